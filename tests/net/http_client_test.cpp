// HttpClient end to end against the scripted local server (tests/server),
// over plain sockets and TLS, on both targets.
#include "net/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/common/error_text.h"
#include "tests/common/log_capture.h"
#include "tests/common/memory_transport.h"
#include "tests/common/test_data.h"
#include "tests/common/test_env.h"
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

// The server's body pattern (byte i is i % 256) is shown by its length.
std::string shown(const HttpResponse& response, const Error& error) {
    if (error.failed()) return error_text(error);
    std::string body = response.body.str();
    bool pattern = body.size() > 64;
    for (std::size_t i = 0; pattern && i < body.size(); ++i)
        pattern = static_cast<unsigned char>(body[i]) == i % 256;
    if (pattern) body = "<pattern " + std::to_string(body.size()) + ">";
    return std::to_string(response.status) + " " + body;
}

std::string filled(std::string text, const TestServer& server) {
    const std::size_t at = text.find("{base}");
    return at == std::string::npos ? text : text.replace(at, 6, server.base_url());
}

// Holds what it is given, and counts how often it had to start over.
struct StringSink final : tarncore::BodySink {
    std::string bytes;
    int restarts = 0;
    void restart() override {
        bytes.clear();
        ++restarts;
    }
    void take(const char* data, std::size_t length) override { bytes.append(data, length); }
};

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

// Deadlines a trickle cannot stretch, the stall rule and the redirect cap;
// each row also bounds the time it may take.
TEST(HttpClient, DeadlinesAndTheStallRule) {
    const Json table = tarntest::read_json("net/exchanges.json");
    for (const Json& c : tarntest::items(table.find("paced"))) {
        SCOPED_TRACE(c.get_string("name", ""));
        TestServer server;
        ASSERT_TRUE(server.start(c.find("script").dump(false))) << server.last_error();
        HttpRequest request;
        request.url = server.url("/file?v=1");
        request.timeout_ms = static_cast<std::uint32_t>(c.get_int("timeout_ms", 20000));
        request.stall_window_ms = static_cast<std::uint32_t>(c.get_int("stall_ms", 30000));
        request.whole_answer_deadline = c.find("whole").kind == tarncore::JsonKind::Bool;
        LogCapture log;
        Error error;
        const auto start = std::chrono::steady_clock::now();
        HttpResponse response = HttpClient::execute(request, error);
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(shown(response, error), filled(c.get_string("outcome", ""), server));
        EXPECT_LT(took, c.get_int("max_seconds", 0));
        EXPECT_EQ(server.http_requests().size(), c.get_int("requests", 1));
    }
}

// A broken body goes on with a Range request where the server allows it, in
// memory and through a sink alike; the meter never goes back unless the
// body started over.
TEST(HttpClient, ResumesABrokenDownload) {
    const Json table = tarntest::read_json("net/exchanges.json");
    for (const Json& c : tarntest::items(table.find("resume"))) {
        for (const bool streamed : {false, true}) {
            SCOPED_TRACE(c.get_string("name", "") + (streamed ? " (sink)" : " (memory)"));
            TestServer server;
            ASSERT_TRUE(server.start(c.find("script").dump(false))) << server.last_error();
            StringSink sink;
            std::int64_t last = 0, total = 0;
            bool steady = true;
            HttpRequest request;
            request.url = server.url("/file?v=1");
            request.sink = streamed ? &sink : nullptr;
            request.progress = [&](std::int64_t received, std::int64_t expected) {
                steady = steady && received >= last;
                last = received;
                total = expected;
            };
            LogCapture log;
            Error error;
            HttpResponse response = HttpClient::execute(request, error);
            if (streamed) {
                EXPECT_EQ(response.streamed, static_cast<std::int64_t>(sink.bytes.size()));
                response.body = sink.bytes;
            }
            EXPECT_EQ(shown(response, error), c.get_string("outcome", ""));
            EXPECT_EQ(std::to_string(last) + "/" + std::to_string(total) +
                          (steady ? " steady" : " restarted"),
                      c.get_string("meter", ""));
            std::string ranges;
            for (const Json& r : server.http_requests()) {
                ranges +=
                    (ranges.empty() ? "" : "|") + header(r, "Range") + " " + header(r, "If-Range");
            }
            EXPECT_EQ(ranges, c.get_string("ranges", ""));
        }
    }
}

// Through a loopback proxy named by the environment or the user's setting:
// what the proxy was asked (method, target, credentials), how many
// connections it relayed both ways, and how many requests reached the origin.
TEST(HttpClient, GoesThroughAProxy) {
    const Json table = tarntest::read_json("net/exchanges.json");
    for (const Json& c : tarntest::items(table.find("proxied"))) {
        SCOPED_TRACE(c.get_string("name", ""));
        TestServer origin, proxy;
        const std::string cert = c.get_string("cert", "");
        ASSERT_TRUE(origin.start(R"([{"path":"/file","body":"arrived","times":0}])",
                                 {cert.empty()     ? ServerCert::None
                                  : cert == "good" ? ServerCert::Good
                                                   : ServerCert::WrongHost}))
            << origin.last_error();
        ASSERT_TRUE(proxy.start("[" + c.find("proxy").dump(false) + "]")) << proxy.last_error();
        const std::string host = origin.base_url().substr(origin.base_url().find("//") + 2);
        const auto fill = [&](const std::string& text) {
            return tarntest::replace_all(
                tarntest::replace_all(text, "{proxy}", "127.0.0.1:" + std::to_string(proxy.port())),
                "{origin}", host);
        };
        std::list<tarntest::ScopedEnv> env;  // undone last first
        for (const char* name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"}) {
            env.emplace_front(name, std::nullopt);
        }
        for (const auto& [name, value] : tarntest::members(c.find("env"))) {
            env.emplace_front(name,
                              tarncore::native_from_text(fill(std::get<std::string>(value.value))));
        }
        const Json& system = c.find("system");
        std::optional<tarntest::ScopedUserProxy> user;
        if (system.kind != tarncore::JsonKind::Null) {
            user.emplace(fill(system.get_string("proxy", "")), system.get_string("bypass", ""));
            if (!user->available()) continue;  // no such setting on this platform
        }
        LogCapture log;
        Error error;
        const HttpResponse response =
            HttpClient::execute({"GET", origin.url("/file?v=1"), {}, "", 5000, {}}, error);
        EXPECT_EQ(shown(response, error), fill(c.get_string("outcome", "")));
        // A relay is recorded when both ends have closed, just after the answer.
        const std::string expected = fill(c.get_string("asked", ""));
        std::string asked;
        for (int wait = 0; wait < 100 && asked != expected; ++wait) {
            if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            asked.clear();
            int relayed = 0;
            for (const Json& r : proxy.requests()) {
                if (r.get_string("event", "") == "relayed") {
                    relayed += r.get_int("up", 0) > 0 && r.get_int("down", 0) > 0;
                } else {
                    asked += r.get_string("method", "") + " " + r.get_string("target", "") + " " +
                             header(r, "Proxy-Authorization") + "|";
                }
            }
            asked += "relayed " + std::to_string(relayed);
        }
        EXPECT_EQ(asked, expected);
        EXPECT_EQ(origin.http_requests().size(), c.get_int("reached", 1));
    }
}

}  // namespace
