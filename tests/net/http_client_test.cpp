// HttpClient, the socket and the platform TLS engine (Schannel under Wine on
// the Windows build, OpenSSL natively) end to end against the scripted local
// server (tests/server) and the run's CA, on both targets.
#include "net/http_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "net/socket.h"
#include "net/tls_session.h"
#include "tests/common/console_capture.h"
#include "tests/common/memory_transport.h"
#include "tests/common/test_data.h"
#include "tests/common/test_server.h"

namespace {

using namespace tarncore;
using namespace tarntest;

std::string header(const Json& request, const std::string& name) {
    for (const Json& pair : items(request.find("headers"))) {
        if (text_at(pair, 0) == name) return text_at(pair, 1);
    }
    return "<absent>";
}

// The server's body pattern (byte i is i % 256) is shown by its length.
std::string shown(const HttpResponse& response, const Error& error) {
    if (error.failed()) return error_text(error);
    std::string body = response.body.str();
    if (body.size() > 64 && body == pattern(body.size()))
        body = "<pattern " + std::to_string(body.size()) + ">";
    return std::to_string(response.status) + " " + body;
}

// Holds what it is given since the body last started over.
struct StringSink final : BodySink {
    std::string bytes;
    void restart() override { bytes.clear(); }
    void take(const char* data, std::size_t length) override { bytes.append(data, length); }
};

bool has(const Json& row, const char* key) {
    return row.find(key).kind != JsonKind::Null;
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
        ASSERT_TRUE(origin.start(replace_all(script, "{plain}", other.base_url()),
                                 {row.get_string("cert", "")}))
            << origin.last_error();
    }

    // {proxy}: the other server's address; {origin}: the origin's host:port; {base}: its URL.
    std::string fill(const std::string& text) const {
        const std::string& base = origin.base_url();
        return replace_all(text, {{"{proxy}", "127.0.0.1:" + std::to_string(other.port())},
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
    std::list<ScopedEnv> env;  // undone last first
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
    for (const Json& line : items(row.find("warns")))
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
    for (const auto& [name, value] : members(row.find("env")))
        x.env.emplace_front(name, native_from_text(x.fill(std::get<std::string>(value.value))));
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
    MemoryTransport transport;
    transport.fail_sends(Error(2, "network", "Socket.send", "Connection reset by peer"));
    HttpClient::exchange(transport, {}, {"http", "h", 80, "/", "", false}, error);
    EXPECT_EQ(error_text(error), "2 network HttpClient.execute: Connection reset by peer");
}

// Reads until the peer closes; a good read resets a stale error.
std::string read_to_end(Socket& socket, Error& error) {
    std::string all;
    char buffer[65536];
    for (std::int32_t n; (n = socket.recv(buffer, sizeof buffer, error)) > 0;) {
        EXPECT_TRUE(error.ok()) << error.message;
        all.append(buffer, static_cast<std::size_t>(n));
        error = Error(9, "stale", "stale", "stale");
    }
    return all;
}

TEST(Socket, SendsEveryByteAndSurvivesAPeerThatLeft) {
    TestServer server;
    ASSERT_TRUE(server.start(R"([{"path":"/echo","echo":true},{"path":"/gone","action":"close"}])"))
        << server.last_error();
    const std::string body = lcg(3 * 1024 * 1024);
    const std::string echo =
        "POST /echo HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    Socket socket;
    ASSERT_TRUE(socket.connect("127.0.0.1", server.port(), 10000, 0).ok());
    ASSERT_TRUE(socket.send(echo.data(), echo.size()).ok());
    Error error;
    EXPECT_TRUE(read_to_end(socket, error).ends_with(body));
    EXPECT_TRUE(error.ok()) << "end of stream is no failure: " << error.message;

    // Connecting again drops the first connection; this peer reads and leaves.
    ASSERT_TRUE(socket.connect("localhost", server.port(), 10000, 0).ok());
    ASSERT_TRUE(socket.send("GET /gone HTTP/1.1\r\n\r\n", 22).ok());
    EXPECT_EQ(read_to_end(socket, error), "");
    // The first writes may still be taken; the peer's reset then fails one,
    // as an error, not as a signal that ends the process.
    const std::string chunk(64 * 1024, 'z');
    for (int i = 0; i < 200 && error.ok(); ++i) error = socket.send(chunk.data(), chunk.size());
    EXPECT_EQ(error.function, "Socket.send");
    EXPECT_FALSE(error.message.empty() || error.message.find('\n') != std::string::npos);
}

// name; echo: a body larger than a record, not a multiple of its size, goes
// up and comes back, and the server ends with a close notification;
// otherwise the server answers "BYE\n" and drops the connection. Or the
// handshake fails: cert: the server's, as test_server.py names it;
// client_auth: the server demands a client certificate; status: the
// handshake's (absent: the package's own choice; Windows and OpenSSL say
// SEC_I_INCOMPLETE_CREDENTIALS, Wine's package an internal error, or the
// server's reset overtakes it).
TARN_ROWS(TlsReal, "net/tls_real.json", "rows");
TEST_P(TlsReal, CarriesRecordsAndTellsHowTheServerEnded) {
    TestServer server;
    ASSERT_TRUE(server.start(
        R"([{"path": "/echo", "echo": true},
        {"path": "/drop", "raw": "BYE\n", "close_notify": false}])",
        {.cert = row.get_string("cert", "good"), .client_auth = flag(row, "client_auth")}))
        << server.last_error();
    TlsSession session;
    Error e = session.connect("localhost", server.port(), 10000, 0);
    if (row.find("cert").kind != JsonKind::Null) {
        const std::string text = e.module + " " + e.function + ": " + e.message;
        const std::string failed = "network TlsSession.handshake: TLS handshake/record failed: ";
        const std::string status = row.get_string("status", "");
        EXPECT_TRUE(!status.empty() ? text == failed + status
                                    : text.starts_with(failed) || e.function == "Socket.recv")
            << text;
        return;
    }
    ASSERT_TRUE(e.ok()) << e.function << ": " << e.message;
    const bool echo = flag(row, "echo");
    const std::string body = lcg(70001);
    const std::string request = echo ? "POST /echo HTTP/1.1\r\nContent-Length: 70001\r\n\r\n" + body
                                     : "GET /drop HTTP/1.1\r\n\r\n";
    ASSERT_TRUE(session.send(request.data(), request.size()).ok());
    // The whole reply arrives before the first read, so one receive holds
    // many records; reads that hold a whole record and reads that do not
    // then take turns.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::string reply, buffer(65536, '\0');
    std::int32_t n = 0;
    for (int i = 0; (n = session.recv(buffer.data(), i++ % 5 == 4 ? 65536 : 4096, e)) > 0;)
        reply.append(buffer, 0, n);
    EXPECT_EQ(n, 0) << e.message;
    EXPECT_TRUE(reply.ends_with(echo ? body : "BYE\n")) << reply.size();
    // A close notification is told from a dropped connection on both
    // targets (Wine's package reports it in its own way).
    EXPECT_EQ(e.function + e.message, echo ? "" : "TlsSession.recvTLS peer closed the connection");
}

}  // namespace
