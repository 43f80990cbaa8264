// HttpClient end to end against the scripted local server (tests/server),
// over plain sockets and TLS, on both targets.
#include "net/http_client.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/error_text.h"
#include "tests/common/memory_transport.h"
#include "tests/common/test_data.h"
#include "tests/common/test_server.h"

namespace {

using tarncore::Error;
using tarncore::HttpClient;
using tarncore::HttpRequest;
using tarncore::HttpResponse;
using tarncore::Json;
using tarntest::error_text;
using tarntest::ServerCert;
using tarntest::TestServer;

// The logger writes whole lines to std::cerr; collect them for the test.
struct LogCapture {
    std::ostringstream text;
    std::streambuf* old = std::cerr.rdbuf(text.rdbuf());
    ~LogCapture() { std::cerr.rdbuf(old); }

    /// Messages of the "http" lines at `level`, without time and tags.
    std::vector<std::string> lines(const std::string& level) const {
        std::vector<std::string> out;
        std::istringstream in(text.str());
        const std::string tag = "] [" + level + "] [http] ";
        for (std::string line; std::getline(in, line);) {
            std::size_t at = line.find(tag);
            if (at != std::string::npos) out.push_back(line.substr(at + tag.size()));
        }
        return out;
    }
};

std::string header(const Json& request, const std::string& name) {
    for (const Json& pair : tarntest::items(request.find("headers"))) {
        if (tarntest::text_at(pair, 0) == name) return tarntest::text_at(pair, 1);
    }
    return "<absent>";
}

std::vector<std::string> targets(const TestServer& server) {
    std::vector<std::string> out;
    for (const Json& r : server.http_requests()) out.push_back(r.get_string("target", ""));
    return out;
}

const ServerCert kCerts[] = {ServerCert::None, ServerCert::Good};

class HttpClientExchange : public testing::TestWithParam<Json> {};

TEST_P(HttpClientExchange, ComesBackAfterItsRetries) {
    const Json& c = GetParam();
    const bool tls = c.get_string("cert", "") == "good";
    TestServer server;
    if (c.find("url").kind == tarncore::JsonKind::Null) {
        ASSERT_TRUE(server.start(c.find("script").dump(false), {kCerts[tls]}))
            << server.last_error();
    }
    HttpRequest request;
    request.method = c.get_string("method", "GET");
    request.url = c.get_string("url", server.url("/file?v=1"));
    if (request.method == "POST") request.body = R"({"name":"bot"})";
    request.timeout_ms = static_cast<std::uint32_t>(c.get_int("timeout_ms", 20000));
    request.max_body_bytes = c.get_int("max_body", request.max_body_bytes);
    LogCapture log;
    Error error;
    HttpResponse response = HttpClient::execute(request, error);
    EXPECT_EQ(
        error.failed() ? error_text(error) : std::to_string(response.status) + " " + response.body,
        c.get_string("outcome", ""));

    // A failed attempt looks like the last one; an answer was retried for an empty body.
    const std::string attempt =
        request.method + " " + request.url + " status=" +
        (error.failed() ? std::to_string(response.status) + " body=" +
                              std::to_string(response.body.size()) + " err=" + error.message
                        : "200 body=0");
    const std::string note = c.get_string("note", "");
    const int retries = static_cast<int>(c.get_int("retries", 0));
    std::vector<std::string> warns;
    for (int i = 1; i <= retries; ++i) {
        if (!note.empty()) warns.push_back(note);
        warns.push_back(attempt + ", retry " + std::to_string(i));
    }
    if (!note.empty() && response.body.empty() && retries < 3) warns.push_back(note);
    EXPECT_EQ(log.lines("WARN"), warns);
    EXPECT_EQ(log.lines("ERROR"), std::vector<std::string>(c.get_int("errors", 0), error.message));

    if (c.find("url").kind != tarncore::JsonKind::Null) return;  // nothing was started
    std::vector<Json> seen = server.http_requests();
    ASSERT_EQ(seen.size(), c.get_int("requests", std::min(retries + 1, 3)));
    EXPECT_EQ(seen[0].get_string("target", ""), "/file?v=1");
    EXPECT_EQ(header(seen[0], "Host"), tls ? "localhost" : "127.0.0.1");
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpClientExchange,
    testing::ValuesIn(tarntest::items(tarntest::load_test_data("net/exchanges.json").find("rows"))),
    [](const auto& info) { return info.param.get_string("name", "unnamed"); });

TEST(HttpClient, ConnectAndSendFailuresComeBackAsTheyWere) {
    LogCapture log;
    Error error;
    EXPECT_EQ(HttpClient::execute({"GET", "http://127.0.0.1:1/", {}, "", 5000, {}}, error).status,
              0);
    EXPECT_TRUE(error_text(error).starts_with("2 network Socket.connect: connect() failed: "))
        << error_text(error);
    ASSERT_EQ(log.lines("WARN").size(), 3u);
    EXPECT_EQ(log.lines("WARN")[2],
              "GET http://127.0.0.1:1/ status=0 body=0 err=" + error.message + ", retry 3");

    tarntest::MemoryTransport transport;
    transport.fail_sends(Error(2, "network", "Socket.send", "Connection reset by peer"));
    HttpClient::exchange(transport, {}, {"http", "h", 80, "/", "", false}, error);
    EXPECT_EQ(error_text(error), "2 network HttpClient.execute: Connection reset by peer");
}

// Relative and absolute locations, then down from HTTPS to a local HTTP server.
TEST(HttpClient, FollowsAChainOfLocations) {
    TestServer plain, secure;
    ASSERT_TRUE(plain.start(R"([{"path":"/e","body":"arrived"}])")) << plain.last_error();
    ASSERT_TRUE(secure.start(R"([
        {"path":"/dir/a","status":302,"headers":[["Location","b?q=1"]]},
        {"path":"/dir/b","status":307,"headers":[["Location","/c"]]},
        {"path":"/c","status":301,"headers":[["location","{base}/d"]]},
        {"path":"/d","status":308,"headers":[["Location",")" +
                                 plain.url("/e") + R"("]]}])",
                             {ServerCert::Good}))
        << secure.last_error();
    Error error;
    HttpResponse response =
        HttpClient::execute({"GET", secure.url("/dir/a"), {}, "", 20000, {}}, error);
    EXPECT_EQ(error_text(error) + response.body, "0  : arrived");
    EXPECT_EQ(targets(secure), (std::vector<std::string>{"/dir/a", "/dir/b?q=1", "/c", "/d"}));
    EXPECT_EQ(targets(plain), std::vector<std::string>{"/e"});
}

TEST(HttpClient, SevenRedirectsAreFollowedAndTheEighthFails) {
    for (int redirects : {7, 8}) {
        TestServer server;
        ASSERT_TRUE(server.start(R"([{"path":"/r","status":302,"headers":[["Location","/r"]],)"
                                 R"("body":"moved","times":)" +
                                 std::to_string(redirects) + R"(},{"path":"/r","body":"end"}])"))
            << server.last_error();
        Error error;
        HttpResponse response =
            HttpClient::execute({"GET", server.url("/r"), {}, "", 20000, {}}, error);
        EXPECT_EQ(error_text(error) + response.body,
                  redirects == 7 ? "0  : end"
                                 : "3 http HttpClient.execute: Too many HTTP redirectsmoved");
        EXPECT_EQ(server.http_requests().size(), 8u);
    }
}

TEST(HttpClient, RedirectKeepsOrDropsThePostBody) {
    TestServer server;
    std::string script = R"([{"path":"/next","echo":true,"times":0})";
    for (int status : {301, 302, 303, 307, 308}) {
        script += R"(,{"path":"/)" + std::to_string(status) + R"(","status":)" +
                  std::to_string(status) + R"(,"headers":[["Location","/next"]]})";
    }
    ASSERT_TRUE(server.start(script + "]")) << server.last_error();
    for (int status : {301, 302, 303, 307, 308}) {
        HttpRequest request{"POST",
                            server.url("/" + std::to_string(status)),
                            {{"X-Trace", "kept"}},
                            R"({"name":"bot"})",
                            20000,
                            {}};
        Error error;
        const bool get = status == 303;
        EXPECT_EQ(HttpClient::execute(request, error).body, get ? "" : request.body) << status;
        const Json seen = server.http_requests().back();
        EXPECT_EQ(seen.get_string("method", ""), get ? "GET" : "POST") << status;
        EXPECT_EQ(header(seen, "Content-Length"), get ? "<absent>" : "14") << status;
        EXPECT_EQ(header(seen, "X-Trace"), "kept") << status;
    }
}

TEST(HttpClient, ProgressFollowsALargeTlsBody) {
    TestServer server;
    ASSERT_TRUE(server.start(R"([{"body_size":3000000}])", {ServerCert::Good}))
        << server.last_error();
    HttpRequest request{"GET", server.url("/big"), {}, "", 20000, {}};
    std::vector<std::pair<std::int64_t, std::int64_t>> calls;
    request.progress = [&](std::int64_t got, std::int64_t total) {
        calls.emplace_back(got, total);
    };
    Error error;
    HttpResponse response = HttpClient::execute(request, error);
    ASSERT_EQ(response.body.size(), 3000000u) << error.message;
    for (std::size_t i = 0; i < response.body.size(); i += 4093) {
        ASSERT_EQ(static_cast<unsigned char>(response.body[i]), i % 256) << i;
    }
    ASSERT_GT(calls.size(), 10u);
    EXPECT_EQ(calls.back(), std::make_pair(std::int64_t{3000000}, std::int64_t{3000000}));
}

}  // namespace
