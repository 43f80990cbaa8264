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
#include "tests/common/loopback_listener.h"
#include "tests/common/memory_transport.h"
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
    for (const Json& pair : std::get<Json::Array>(request.find("headers").value)) {
        const auto& kv = std::get<Json::Array>(pair.value);
        if (std::get<std::string>(kv[0].value) == name) return std::get<std::string>(kv[1].value);
    }
    return "<absent>";
}

HttpResponse execute(const std::string& url, Error& error, const char* method = "GET",
                     std::uint32_t timeout_ms = 20000) {
    HttpRequest request{method, url, {}, "", timeout_ms, {}};
    if (request.method == "POST") request.body = R"({"name":"bot"})";
    return HttpClient::execute(request, error);
}

struct ExchangeCase {
    const char* name;
    const char* script;
    std::string outcome;  // "<status> <body>", or the Error as error_text writes it
    int retries = 0;
    int error_lines = 0;  // written by the exchange when it read a head
    ServerCert cert = ServerCert::None;
    const char* note = "";  // the exchange's WARN line for each empty 200
    const char* method = "GET";
    std::uint32_t timeout_ms = 20000;
    const char* url = nullptr;  // instead of the server's; nothing is started
};

// Keeps the test list (and ctest's names) to the case name, not a byte dump.
void PrintTo(const ExchangeCase& c, std::ostream* out) { *out << c.name; }

const std::string kHttp = "3 http HttpClient.execute: ";
const std::string kRelabelled = "2 network HttpClient.execute: ";
const std::string kTimedOut = "2 network Socket.recv: Receive timed out";
const std::string kTlsFailed = "2 network TlsSession.handshake: TLS handshake/record failed: ";
const char* const kStall = R"([{"action":"stall","ms":1500,"times":3}])";
const char* const kEmptyNote = "GET-like 200 with empty body cl=0 te= headers=2";
const ServerCert kPlain = ServerCert::None;
const ServerCert kTls = ServerCert::Good;

const ExchangeCase kExchanges[] = {
    {"NoScheme", "", kRelabelled + "URL must include a scheme, e.g. https://example.com", 0, 0,
     kPlain, "", "GET", 20000, "127.0.0.1/x"},
    {"UnsupportedScheme", "", kRelabelled + "Unsupported URL scheme: ftp", 0, 0, kPlain, "", "GET",
     20000, "ftp://127.0.0.1/x"},
    {"CloseBeforeHead", R"([{"action":"close","times":3}])",
     kHttp + "Connection closed before HTTP headers were complete", 3},
    {"CloseMidChunkedBody",
     R"([{"body":"hello world, in chunks","framing":"chunked","truncate":20,"times":3}])",
     kHttp + "Connection closed before the HTTP body was complete", 3, 3},
    {"ShortContentLength", R"([{"body":"abc","content_length":10,"framing":"none","times":3}])",
     kHttp + "Truncated HTTP body (expected 10, got 3)", 3, 3},
    {"InvalidContentLength",
     R"([{"body":"abc","content_length":"abc","framing":"none","times":3}])",
     kHttp + "Invalid Content-Length", 3, 3},
    {"NoStatusLine", R"([{"raw":"garbage\r\n\r\n","times":3}])",
     kHttp + "HTTP response did not include a status line", 3, 3},
    {"StallPastTimeout", kStall, kTimedOut, 3, 0, kPlain, "", "GET", 300},
    {"StallOverTls", kStall, kTimedOut, 3, 0, kTls, "", "GET", 300},
    {"UntrustedCertificate", "[]", kTlsFailed + "SEC_E_UNTRUSTED_ROOT", 3, 0,
     ServerCert::Untrusted},
    {"ExpiredCertificate", "[]", kTlsFailed + "SEC_E_CERT_EXPIRED", 3, 0, ServerCert::Expired},
    {"WrongHostCertificate", "[]", kTlsFailed + "SEC_E_WRONG_PRINCIPAL", 3, 0,
     ServerCert::WrongHost},
    {"ServerError", R"([{"status":500,"body":"broken","times":3}])", "500 broken"},
    {"EmptyGetThenBody", R"([{"body":"","times":2},{"body":"finally"}])", "200 finally", 2, 0,
     kPlain, kEmptyNote},
    {"EmptyGetEveryTime", R"([{"body":"","framing":"chunked","times":3}])", "200 ", 3, 0, kPlain,
     "GET-like 200 with empty body cl= te=chunked headers=2"},
    // The exchange's own note does not look at the method.
    {"EmptyPost", R"([{"body":"","times":3}])", "200 ", 0, 0, kPlain, kEmptyNote, "POST"},
    {"RedirectWithoutLocation", R"([{"status":301,"body":"nowhere"}])", "301 nowhere"},
    {"Chunked", R"([{"body":"chunked answer","framing":"chunked","chunk":4}])",
     "200 chunked answer"},
    {"ReadToClose", R"([{"body":"until the close","framing":"close"}])", "200 until the close"},
    {"SplitWrites", R"([{"body":"in pieces","framing":"chunked","split":3,"pause_ms":5}])",
     "200 in pieces"},
    {"ContinueThenAnswer", R"([{"interim":true,"body":"after 100"}])", "200 after 100"},
    {"TlsChunkedSplit",
     R"([{"body":"secret pieces","framing":"chunked","chunk":2,"split":4,"pause_ms":5}])",
     "200 secret pieces", 0, 0, kTls},
    {"TlsContinue", R"([{"interim":true,"body":"secret after 100"}])", "200 secret after 100", 0, 0,
     kTls},
};

class HttpClientExchange : public testing::TestWithParam<ExchangeCase> {};

TEST_P(HttpClientExchange, ComesBackAfterItsRetries) {
    const ExchangeCase& c = GetParam();
    TestServer server;
    if (!c.url) {
        ASSERT_TRUE(server.start(c.script, {c.cert})) << server.last_error();
    }
    const std::string url = c.url ? c.url : server.url("/file?v=1");
    LogCapture log;
    Error error;
    HttpResponse response = execute(url, error, c.method, c.timeout_ms);
    EXPECT_EQ(
        error.failed() ? error_text(error) : std::to_string(response.status) + " " + response.body,
        c.outcome);

    // A failed attempt looks like the last one; an answer was retried for an empty body.
    const std::string attempt =
        std::string(c.method) + " " + url + " status=" +
        (error.failed() ? std::to_string(response.status) + " body=" +
                              std::to_string(response.body.size()) + " err=" + error.message
                        : "200 body=0");
    std::vector<std::string> warns;
    for (int i = 1; i <= c.retries; ++i) {
        if (*c.note) warns.push_back(c.note);
        warns.push_back(attempt + ", retry " + std::to_string(i));
    }
    if (*c.note && response.body.empty() && c.retries < 3) warns.push_back(c.note);
    EXPECT_EQ(log.lines("WARN"), warns);
    EXPECT_EQ(log.lines("ERROR"), std::vector<std::string>(c.error_lines, error.message));

    if (c.url || (c.cert != ServerCert::None && error.failed())) return;  // no request was read
    std::vector<Json> seen = server.http_requests();
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(std::min(c.retries + 1, 3)));
    EXPECT_EQ(seen[0].get_string("target", ""), "/file?v=1");
    EXPECT_EQ(header(seen[0], "Host"), c.cert == ServerCert::None ? "127.0.0.1" : "localhost");
}

INSTANTIATE_TEST_SUITE_P(Table, HttpClientExchange, testing::ValuesIn(kExchanges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HttpClient, RefusedConnectionIsTheSocketsErrorAfterThreeAttempts) {
    const std::string url = "http://127.0.0.1:" + std::to_string(tarntest::unused_loopback_port());
    LogCapture log;
    Error error;
    EXPECT_EQ(execute(url, error).status, 0);
    EXPECT_TRUE(error_text(error).starts_with("2 network Socket.connect: connect() failed: "))
        << error_text(error);
    std::vector<std::string> warns = log.lines("WARN");
    ASSERT_EQ(warns.size(), 3u);
    EXPECT_EQ(warns[2], "GET " + url + " status=0 body=0 err=" + error.message + ", retry 3");
}

TEST(HttpClient, SendFailureIsLabelledAsTheClients) {
    tarntest::MemoryTransport transport;
    transport.fail_sends(Error(2, "network", "Socket.send", "Connection reset by peer"));
    Error error;
    HttpClient::exchange(transport, {}, {"http", "h", 80, "/", "", false}, error);
    EXPECT_EQ(error_text(error), kRelabelled + "Connection reset by peer");
}

TEST(HttpClient, FollowsAChainOfRelativeAndAbsoluteLocations) {
    TestServer server;
    ASSERT_TRUE(server.start(R"([
        {"path":"/dir/a","status":302,"headers":[["Location","b?q=1"]]},
        {"path":"/dir/b","status":302,"headers":[["Location","/c"]]},
        {"path":"/c","status":301,"headers":[["location","{base}/d"]]},
        {"path":"/d","body":"arrived"}])"))
        << server.last_error();
    Error error;
    HttpResponse response = execute(server.url("/dir/a"), error);
    EXPECT_TRUE(error.ok()) << error.message;
    EXPECT_EQ(response.body, "arrived");
    std::vector<std::string> targets;
    for (const Json& r : server.http_requests()) targets.push_back(r.get_string("target", ""));
    EXPECT_EQ(targets, (std::vector<std::string>{"/dir/a", "/dir/b?q=1", "/c", "/d"}));
}

TEST(HttpClient, SevenRedirectsAreFollowedAndTheEighthFails) {
    for (int redirects : {7, 8}) {
        TestServer server;
        ASSERT_TRUE(server.start(R"([{"path":"/r","status":302,"headers":[["Location","/r"]],)"
                                 R"("body":"moved","times":)" +
                                 std::to_string(redirects) + R"(},{"path":"/r","body":"end"}])"))
            << server.last_error();
        Error error;
        HttpResponse response = execute(server.url("/r"), error);
        EXPECT_EQ(error_text(error), redirects == 7 ? "0  : " : kHttp + "Too many HTTP redirects");
        EXPECT_EQ(response.body, redirects == 7 ? "end" : "moved");
        EXPECT_EQ(server.http_requests().size(), 8u);
    }
}

TEST(HttpClient, RedirectKeepsOrDropsThePostBody) {
    for (int status : {301, 302, 303, 307, 308}) {
        TestServer server;
        ASSERT_TRUE(
            server.start(R"([{"path":"/form","status":)" + std::to_string(status) +
                         R"(,"headers":[["Location","/next"]]},{"path":"/next","body":"ok"}])"))
            << server.last_error();
        HttpRequest request{
            "POST", server.url("/form"), {{"X-Trace", "kept"}}, R"({"name":"bot"})", 20000, {}};
        Error error;
        EXPECT_EQ(HttpClient::execute(request, error).body, "ok") << status << error.message;
        std::vector<Json> seen = server.http_requests();
        ASSERT_EQ(seen.size(), 2u) << status;
        const bool get = status == 303;
        EXPECT_EQ(seen[1].get_string("method", ""), get ? "GET" : "POST") << status;
        EXPECT_EQ(seen[1].get_string("body", ""), get ? "" : request.body) << status;
        EXPECT_EQ(header(seen[1], "Content-Length"), get ? "<absent>" : "14") << status;
        EXPECT_EQ(header(seen[1], "X-Trace"), "kept") << status;
    }
}

TEST(HttpClient, ProgressFollowsALargeTlsBody) {
    TestServer server;
    ASSERT_TRUE(server.start(R"([{"body_size":3000000}])", {ServerCert::Good}))
        << server.last_error();
    HttpRequest request;
    request.url = server.url("/big");
    std::vector<std::pair<std::int64_t, std::int64_t>> calls;
    request.progress = [&](std::int64_t got, std::int64_t total) {
        calls.emplace_back(got, total);
    };
    Error error;
    HttpResponse response = HttpClient::execute(request, error);
    EXPECT_TRUE(error.ok()) << error.message;
    ASSERT_EQ(response.body.size(), 3000000u);
    for (std::size_t i = 0; i < response.body.size(); i += 4093) {
        ASSERT_EQ(static_cast<unsigned char>(response.body[i]), i % 256) << i;
    }
    ASSERT_GT(calls.size(), 100u);
    EXPECT_EQ(calls.back(), std::make_pair(std::int64_t{3000000}, std::int64_t{3000000}));
}

}  // namespace
