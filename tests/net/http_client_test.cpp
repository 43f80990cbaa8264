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

#include "tests/common/console_capture.h"
#include "tests/common/memory_transport.h"
#include "tests/common/test_data.h"
#include "tests/common/test_server.h"

namespace {

using tarncore::Error;
using tarncore::HttpClient;
using tarncore::HttpRequest;
using tarncore::HttpResponse;
using tarncore::Json;
using tarntest::ConsoleCapture;
using tarntest::error_text;
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
    if (body.size() > 64 && body == tarntest::pattern(body.size()))
        body = "<pattern " + std::to_string(body.size()) + ">";
    return std::to_string(response.status) + " " + body;
}

// Holds what it is given since the body last started over.
struct StringSink final : tarncore::BodySink {
    std::string bytes;
    void restart() override { bytes.clear(); }
    void take(const char* data, std::size_t length) override { bytes.append(data, length); }
};

bool has(const Json& row, const char* key) {
    return row.find(key).kind != tarncore::JsonKind::Null;
}

// One request of a row through HttpClient::execute. Every fixture's rows have
// outcome: the error as error_text writes it, or the status and body ("<pattern
// N>": N bytes of the server's pattern); requests: how many the origin saw
// (default 1); cert: the origin's certificate, as
// test_server.py names it (none: plain HTTP).
struct Exchange {
    Exchange() {
        for (const char* name :
             {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"}) {
            env.emplace_front(name, std::nullopt);
        }
    }

    // The origin with `script` ({plain}: the other server's base), the other
    // (a proxy, or a plain server a redirect may lead to) with `second`.
    void start(const Json& row, const std::string& script, const std::string& second = "") {
        if (!second.empty()) {
            ASSERT_TRUE(other.start(second)) << other.last_error();
        }
        ASSERT_TRUE(origin.start(tarntest::replace_all(script, "{plain}", other.base_url()),
                                 {row.get_string("cert", "")}))
            << origin.last_error();
    }

    // {proxy}: the other server's address; {origin}: the origin's host:port; {base}: its URL.
    std::string fill(const std::string& text) const {
        const std::string& base = origin.base_url();
        return tarntest::replace_all(text,
                                     {{"{proxy}", "127.0.0.1:" + std::to_string(other.port())},
                                      {"{origin}", base.substr(base.find("//") + 2)},
                                      {"{base}", base}});
    }

    // Runs the request; with `streamed`, into a sink; checks outcome and the
    // number of requests, and that the meter never went back unless the body
    // started over (`meter`: its last report, "steady" or "restarted").
    void run(const Json& row, HttpRequest& request, bool streamed = false) {
        StringSink sink;
        std::int64_t last = 0, total = 0;
        bool steady = true;
        request.url = row.get_string("url", origin.url(row.get_string("path", "/file?v=1")));
        request.headers["X-Trace"] = "kept";
        request.sink = streamed ? &sink : nullptr;
        request.progress = [&](std::int64_t received, std::int64_t expected) {
            steady = steady && received >= last;
            last = received;
            total = expected;
        };
        const auto start = std::chrono::steady_clock::now();
        response = HttpClient::execute(request, error);
        took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (streamed) {
            EXPECT_EQ(response.streamed, static_cast<std::int64_t>(sink.bytes.size()));
            response.body = sink.bytes;
        }
        EXPECT_EQ(shown(response, error), fill(row.get_string("outcome", "")));
        if (has(row, "meter")) {
            EXPECT_EQ(std::to_string(last) + "/" + std::to_string(total) +
                          (steady ? " steady" : " restarted"),
                      row.get_string("meter", ""));
        }
        if (!has(row, "url")) {
            EXPECT_EQ(origin.http_requests().size(), row.get_int("requests", 1));
        }
    }

    TestServer origin, other;
    std::list<tarntest::ScopedEnv> env;  // undone last first
    Error error;
    HttpResponse response;
    double took = 0;
};

// name; script: the origin's (url instead: a request that starts nothing);
// method (default GET; a POST sends {"name":"bot"}); path (default
// /file?v=1); timeout_ms; max_body; warns: the WARN lines; errors: how many
// ERROR lines (each the error's message); last: method, body,
// Content-Length and X-Trace of the last request; plain: a second, plain
// server's script ({plain}); targets: the targets the origin, then the plain
// server, saw.
TARN_ROWS(HttpExchange, "net/exchanges.json", "rows");
TEST_P(HttpExchange, ComesBackAfterItsRetries) {
    Exchange x;
    if (!has(row, "url")) {
        ASSERT_NO_FATAL_FAILURE(x.start(row, row.find("script").dump(false),
                                        has(row, "plain") ? row.find("plain").dump(false) : ""));
    }
    HttpRequest request;
    request.method = row.get_string("method", "GET");
    if (request.method == "POST") request.body = R"({"name":"bot"})";
    request.timeout_ms = static_cast<std::uint32_t>(row.get_int("timeout_ms", 20000));
    request.max_body_bytes = row.get_int("max_body", request.max_body_bytes);
    ConsoleCapture log;
    x.run(row, request);
    std::vector<std::string> warns;
    for (const Json& line : tarntest::items(row.find("warns")))
        warns.push_back(x.fill(std::get<std::string>(line.value)));
    EXPECT_EQ(log.lines("WARN", "http"), warns);
    EXPECT_EQ(log.lines("ERROR", "http"),
              std::vector<std::string>(row.get_int("errors", 0), x.error.message));
    if (has(row, "last")) {
        const Json seen = x.origin.http_requests().back();
        EXPECT_EQ(seen.get_string("method", "") + " " + seen.get_string("body", "") + " " +
                      header(seen, "Content-Length") + " " + header(seen, "X-Trace"),
                  row.get_string("last", ""));
    }
    if (has(row, "targets")) {
        std::string targets;
        for (const TestServer* at : {&x.origin, &x.other}) {
            for (const Json& r : at->http_requests()) targets += r.get_string("target", "") + " ";
        }
        EXPECT_EQ(targets, row.get_string("targets", ""));
    }
}

// name; script; timeout_ms; whole: the whole answer within timeout_ms;
// stall_ms: the stall window (0: none); max_seconds: what the row may take.
TARN_ROWS(HttpPaced, "net/exchanges.json", "paced");
TEST_P(HttpPaced, KeepsItsDeadlines) {
    Exchange x;
    ASSERT_NO_FATAL_FAILURE(x.start(row, row.find("script").dump(false)));
    HttpRequest request;
    request.timeout_ms = static_cast<std::uint32_t>(row.get_int("timeout_ms", 20000));
    request.stall_window_ms = static_cast<std::uint32_t>(row.get_int("stall_ms", 30000));
    request.whole_answer_deadline = has(row, "whole");
    x.run(row, request);
    EXPECT_LT(x.took, row.get_int("max_seconds", 0));
}

// name; script: a body that breaks; ranges: the Range and If-Range of each
// request; meter. Read into memory and through a sink alike.
TARN_ROWS(HttpResumed, "net/exchanges.json", "resume");
TEST_P(HttpResumed, GoesOnWithARange) {
    for (const bool streamed : {false, true}) {
        SCOPED_TRACE(streamed ? "into a sink" : "in memory");
        Exchange x;
        ASSERT_NO_FATAL_FAILURE(x.start(row, row.find("script").dump(false)));
        HttpRequest request;
        x.run(row, request, streamed);
        std::string ranges;
        for (const Json& r : x.origin.http_requests()) {
            ranges +=
                (ranges.empty() ? "" : "|") + header(r, "Range") + " " + header(r, "If-Range");
        }
        EXPECT_EQ(ranges, row.get_string("ranges", ""));
    }
}

// name; proxy: the test proxy's behaviour; env: variables naming it; asked: method,
// target and Proxy-Authorization of each request the proxy saw, then how many
// connections it relayed both ways. The origin answers /file with "arrived".
TARN_ROWS(HttpProxied, "net/exchanges.json", "proxied");
TEST_P(HttpProxied, GoesThroughTheProxy) {
    Exchange x;
    ASSERT_NO_FATAL_FAILURE(x.start(row, R"([{"path":"/file","body":"arrived","times":0}])",
                                    "[" + row.find("proxy").dump(false) + "]"));
    for (const auto& [name, value] : tarntest::members(row.find("env")))
        x.env.emplace_front(name,
                            tarncore::native_from_text(x.fill(std::get<std::string>(value.value))));
    HttpRequest request;
    x.run(row, request);
    // A relay is recorded when both ends have closed, just after the answer.
    const std::string expected = x.fill(row.get_string("asked", ""));
    std::string asked;
    for (int wait = 0; wait < 100 && asked != expected; ++wait) {
        if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        asked.clear();
        int relayed = 0;
        for (const Json& r : x.other.requests()) {
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
