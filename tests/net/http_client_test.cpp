// HttpClient end to end against the scripted local server (tests/server),
// over plain sockets and TLS, on both targets.
#include "net/http_client.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/common/error_text.h"
#include "tests/common/log_capture.h"
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
using tarntest::LogCapture;
using tarntest::ServerCert;
using tarntest::TestServer;

std::string header(const Json& request, const std::string& name) {
    for (const Json& pair : tarntest::items(request.find("headers"))) {
        if (tarntest::text_at(pair, 0) == name) return tarntest::text_at(pair, 1);
    }
    return "<absent>";
}

}  // namespace

namespace tarncore {
// Test lists show a row by its name.
void PrintTo(const Json& row, std::ostream* out) {
    *out << row.get_string("name", "");
}
}  // namespace tarncore

namespace {

class HttpClientExchange : public testing::TestWithParam<Json> {};

TEST_P(HttpClientExchange, ComesBackAfterItsRetries) {
    const Json& c = GetParam();
    const ServerCert cert =
        c.get_string("cert", "") == "good" ? ServerCert::Good : ServerCert::None;
    TestServer server;
    if (c.find("url").kind == tarncore::JsonKind::Null) {
        ASSERT_TRUE(server.start(c.find("script").dump(false), {cert})) << server.last_error();
    }
    HttpRequest request;
    request.method = c.get_string("method", "GET");
    request.url = c.get_string("url", server.url("/file?v=1"));
    if (request.method == "POST") request.body = R"({"name":"bot"})";
    request.headers["X-Trace"] = "kept";
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
    EXPECT_EQ(log.lines("WARN", "http"), warns);
    EXPECT_EQ(log.lines("ERROR", "http"),
              std::vector<std::string>(c.get_int("errors", 0), error.message));

    if (c.find("url").kind != tarncore::JsonKind::Null) return;  // nothing was started
    std::vector<Json> seen = server.http_requests();
    ASSERT_EQ(seen.size(), c.get_int("requests", std::min(retries + 1, 3)));
    if (c.find("last").kind == tarncore::JsonKind::Null) return;
    const Json& last = seen.back();
    EXPECT_EQ(last.get_string("method", "") + " " + last.get_string("body", "") + " " +
                  header(last, "Content-Length") + " " + header(last, "X-Trace"),
              c.get_string("last", ""));
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpClientExchange,
    testing::ValuesIn(tarntest::items(tarntest::read_json("net/exchanges.json").find("rows"))),
    [](const auto& info) { return info.param.get_string("name", "unnamed"); });

TEST(HttpClient, ConnectAndSendFailuresComeBackAsTheyWere) {
    Error error;
    EXPECT_EQ(HttpClient::execute({"GET", "http://127.0.0.1:1/", {}, "", 5000, {}}, error).status,
              0);
    EXPECT_TRUE(error_text(error).starts_with("2 network Socket.connect: connect() failed: "))
        << error_text(error);
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
    std::string targets;
    for (const TestServer* server : {&secure, &plain}) {
        for (const Json& r : server->http_requests()) targets += r.get_string("target", "") + " ";
    }
    EXPECT_EQ(targets, "/dir/a /dir/b?q=1 /c /d /e ");
}

}  // namespace
