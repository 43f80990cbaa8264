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
#include "tests/common/console_capture.h"
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
using tarntest::ConsoleCapture;
using tarntest::error_text;
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

bool has(const Json& row, const char* key) {
    return row.find(key).kind != tarncore::JsonKind::Null;
}

// One row of tests/data/net/exchanges.json (its "_" says what the fields mean);
// `logs`: the WARN and ERROR lines are checked too.
void exchange(const Json& c, bool streamed, bool logs) {
    SCOPED_TRACE(c.get_string("name", "") + (streamed ? " (sink)" : ""));
    const std::string cert = c.get_string("cert", "");
    // The proxy, or a plain server a redirect may lead to ({plain}).
    TestServer server, other;
    if (has(c, "proxy") || has(c, "plain")) {
        ASSERT_TRUE(other.start(has(c, "plain") ? c.find("plain").dump(false)
                                                : "[" + c.find("proxy").dump(false) + "]"))
            << other.last_error();
    }
    if (!has(c, "url")) {
        const std::string script = has(c, "proxy")
                                       ? R"([{"path":"/file","body":"arrived","times":0}])"
                                       : c.find("script").dump(false);
        ASSERT_TRUE(server.start(tarntest::replace_all(script, "{plain}", other.base_url()),
                                 {cert.empty()     ? ServerCert::None
                                  : cert == "good" ? ServerCert::Good
                                                   : ServerCert::WrongHost}))
            << server.last_error();
    }
    const std::string host = server.base_url().substr(server.base_url().find("//") + 2);
    const auto fill = [&](const std::string& text) {
        return tarntest::replace_all(
            tarntest::replace_all(
                tarntest::replace_all(text, "{proxy}", "127.0.0.1:" + std::to_string(other.port())),
                "{origin}", host),
            "{base}", server.base_url());
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
    std::optional<tarntest::ScopedUserProxy> user;
    if (has(c, "system")) {
        const Json& system = c.find("system");
        user.emplace(fill(system.get_string("proxy", "")), system.get_string("bypass", ""));
        if (!user->available()) return;  // no such setting on this platform
    }
    StringSink sink;
    std::int64_t last = 0, total = 0;
    bool steady = true;
    HttpRequest request;
    request.method = c.get_string("method", "GET");
    request.url = c.get_string("url", server.url(c.get_string("path", "/file?v=1")));
    if (request.method == "POST") request.body = R"({"name":"bot"})";
    request.headers["X-Trace"] = "kept";
    request.timeout_ms = static_cast<std::uint32_t>(c.get_int("timeout_ms", 20000));
    request.stall_window_ms = static_cast<std::uint32_t>(c.get_int("stall_ms", 30000));
    request.whole_answer_deadline = has(c, "whole");
    request.max_body_bytes = c.get_int("max_body", request.max_body_bytes);
    request.sink = streamed ? &sink : nullptr;
    request.progress = [&](std::int64_t received, std::int64_t expected) {
        steady = steady && received >= last;
        last = received;
        total = expected;
    };
    ConsoleCapture log;
    Error error;
    const auto start = std::chrono::steady_clock::now();
    HttpResponse response = HttpClient::execute(request, error);
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (streamed) {
        EXPECT_EQ(response.streamed, static_cast<std::int64_t>(sink.bytes.size()));
        response.body = sink.bytes;
    }
    EXPECT_EQ(shown(response, error), fill(c.get_string("outcome", "")));
    EXPECT_LT(took, c.get_int("max_seconds", 1000));
    // The meter never goes back unless the body started over.
    if (has(c, "meter")) {
        EXPECT_EQ(std::to_string(last) + "/" + std::to_string(total) +
                      (steady ? " steady" : " restarted"),
                  c.get_string("meter", ""));
    }
    const int retries = static_cast<int>(c.get_int("retries", 0));
    if (logs) {
        // A failed attempt looks like the last one; an answer was retried for an empty body.
        const std::string attempt =
            request.method + " " + request.url + " status=" +
            (error.failed() ? std::to_string(response.status) + " body=" +
                                  std::to_string(response.body.size()) + " err=" + error.message
                            : "200 body=0");
        const std::string note = c.get_string("note", "");
        std::vector<std::string> warns;
        for (int i = 1; i <= retries; ++i) {
            if (!note.empty()) warns.push_back(note);
            warns.push_back(attempt + ", retry " + std::to_string(i));
        }
        if (!note.empty() && response.body.empty() && retries < 3) warns.push_back(note);
        EXPECT_EQ(log.lines("WARN", "http"), warns);
        EXPECT_EQ(log.lines("ERROR", "http"),
                  std::vector<std::string>(c.get_int("errors", 0), error.message));
    }
    if (has(c, "url")) return;  // nothing was started
    const std::vector<Json> seen = server.http_requests();
    ASSERT_EQ(seen.size(), c.get_int("requests", std::min(retries + 1, 3)));
    if (has(c, "last")) {
        EXPECT_EQ(seen.back().get_string("method", "") + " " + seen.back().get_string("body", "") +
                      " " + header(seen.back(), "Content-Length") + " " +
                      header(seen.back(), "X-Trace"),
                  c.get_string("last", ""));
    }
    if (has(c, "targets")) {
        std::string targets;
        for (const TestServer* at : {&server, &other}) {
            for (const Json& r : at->http_requests()) targets += r.get_string("target", "") + " ";
        }
        EXPECT_EQ(targets, c.get_string("targets", ""));
    }
    if (has(c, "ranges")) {
        std::string ranges;
        for (const Json& r : seen) {
            ranges +=
                (ranges.empty() ? "" : "|") + header(r, "Range") + " " + header(r, "If-Range");
        }
        EXPECT_EQ(ranges, c.get_string("ranges", ""));
    }
    if (!has(c, "asked")) return;
    // What the proxy was asked (method, target, credentials) and how many
    // connections it relayed both ways; a relay is recorded when both ends
    // have closed, just after the answer.
    const std::string expected = fill(c.get_string("asked", ""));
    std::string asked;
    for (int wait = 0; wait < 100 && asked != expected; ++wait) {
        if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        asked.clear();
        int relayed = 0;
        for (const Json& r : other.requests()) {
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
}

void each(const char* section, bool streamed_too) {
    for (const Json& c : tarntest::json_rows("net/exchanges.json", section)) {
        exchange(c, false, false);
        if (streamed_too) exchange(c, true, false);
    }
}

}  // namespace

namespace {

class HttpClientExchange : public testing::TestWithParam<Json> {};

TEST_P(HttpClientExchange, ComesBackAfterItsRetries) {
    exchange(GetParam(), false, true);
}

INSTANTIATE_TEST_SUITE_P(Table, HttpClientExchange,
                         testing::ValuesIn(tarntest::json_rows("net/exchanges.json")),
                         [](const auto& info) { return info.param.get_string("name", "unnamed"); });

// Deadlines a trickle cannot stretch, the stall rule and the redirect cap;
// each row also bounds the time it may take.
TEST(HttpClient, DeadlinesAndTheStallRule) {
    each("paced", false);
}

// A broken body goes on with a Range request where the server allows it, in
// memory and through a sink alike.
TEST(HttpClient, ResumesABrokenDownload) {
    each("resume", true);
}

// Through a loopback proxy named by the environment or the user's setting.
TEST(HttpClient, GoesThroughAProxy) {
    each("proxied", false);
}

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

}  // namespace
