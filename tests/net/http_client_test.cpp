// HttpClient end to end against the scripted local server (tests/server),
// over plain sockets and TLS, on both targets.
#include "net/http_client.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "net/socket.h"
#include "tests/common/test_server.h"

namespace {

// The socket library is started once per run, as the setup flow does.
class SocketLibrary : public testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(tarncore::Socket::initialize().ok()); }
    void TearDown() override { tarncore::Socket::cleanup(); }
};
const auto* const kSocketLibrary = testing::AddGlobalTestEnvironment(new SocketLibrary);

using tarncore::Error;
using tarncore::HttpClient;
using tarncore::HttpRequest;
using tarncore::HttpResponse;
using tarncore::Json;
using tarntest::ServerCert;
using tarntest::TestServer;

// The logger writes whole lines to std::cerr; collect them for the test.
class LogCapture {
public:
    LogCapture() : old_(std::cerr.rdbuf(text_.rdbuf())) {}
    ~LogCapture() { std::cerr.rdbuf(old_); }

    /// Messages of the "http" lines at `level`, without time and prefix.
    std::vector<std::string> lines(const std::string& level) const {
        std::vector<std::string> out;
        std::istringstream in(text_.str());
        std::string line;
        const std::string tag = "] [" + level + "] [http] ";
        while (std::getline(in, line)) {
            std::size_t at = line.find(tag);
            if (at != std::string::npos) out.push_back(line.substr(at + tag.size()));
        }
        return out;
    }

private:
    std::ostringstream text_;
    std::streambuf* old_;
};

std::string header(const Json& request, const std::string& name) {
    const Json& headers = request.find("headers");
    if (headers.kind != tarncore::JsonKind::Array) return "<no headers>";
    for (const Json& pair : std::get<Json::Array>(headers.value)) {
        const auto& kv = std::get<Json::Array>(pair.value);
        if (std::get<std::string>(kv[0].value) == name) return std::get<std::string>(kv[1].value);
    }
    return "<absent>";
}

std::vector<std::string> targets(const TestServer& server) {
    std::vector<std::string> out;
    for (const Json& r : server.http_requests()) out.push_back(r.get_string("target", ""));
    return out;
}

HttpResponse get(const std::string& url, Error& error, std::uint32_t timeout_ms = 20000) {
    HttpRequest request;
    request.url = url;
    request.timeout_ms = timeout_ms;
    return HttpClient::execute(request, error);
}

// --- Failures: every way an exchange can fail, with the Error it ends in.

struct FailureCase {
    const char* name;
    const char* script;  // empty: no server
    ServerCert cert;
    const char* url;  // "{base}" is replaced by the server's base URL
    std::uint32_t timeout_ms;
    std::uint32_t code;
    const char* module;
    const char* function;
    const char* message;
    int attempts;     // WARN retry lines (and server visits)
    int error_lines;  // ERROR lines (written by the exchange when it read a head)
};

const FailureCase kFailures[] = {
    {"NoScheme", "", ServerCert::None, "127.0.0.1/x", 20000, 2, "network", "HttpClient.execute",
     "URL must include a scheme, e.g. https://example.com", 0, 0},
    {"UnsupportedScheme", "", ServerCert::None, "ftp://127.0.0.1/x", 20000, 2, "network",
     "HttpClient.execute", "Unsupported URL scheme: ftp", 0, 0},
    {"CloseBeforeHead", R"([{"action":"close","times":3}])", ServerCert::None, "{base}/x", 20000, 3,
     "http", "HttpClient.execute", "Connection closed before HTTP headers were complete", 3, 0},
    {"CloseMidChunkedBody",
     R"([{"body":"hello world, in chunks","framing":"chunked","truncate":20,"times":3}])",
     ServerCert::None, "{base}/x", 20000, 3, "http", "HttpClient.execute",
     "Connection closed before the HTTP body was complete", 3, 3},
    {"ShortContentLength", R"([{"body":"abc","content_length":10,"framing":"none","times":3}])",
     ServerCert::None, "{base}/x", 20000, 3, "http", "HttpClient.execute",
     "Truncated HTTP body (expected 10, got 3)", 3, 3},
    {"InvalidContentLength",
     R"([{"body":"abc","content_length":"abc","framing":"none","times":3}])", ServerCert::None,
     "{base}/x", 20000, 3, "http", "HttpClient.execute", "Invalid Content-Length", 3, 3},
    {"NoStatusLine", R"([{"raw":"garbage\r\n\r\n","times":3}])", ServerCert::None, "{base}/x",
     20000, 3, "http", "HttpClient.execute", "HTTP response did not include a status line", 3, 3},
    {"StallPastTimeout", R"([{"action":"stall","ms":1500,"times":3}])", ServerCert::None,
     "{base}/x", 300, 2, "network", "Socket.recv", "Receive timed out", 3, 0},
    {"StallOverTls", R"([{"action":"stall","ms":1500,"times":3}])", ServerCert::Good, "{base}/x",
     300, 2, "network", "Socket.recv", "Receive timed out", 3, 0},
    {"UntrustedCertificate", "[]", ServerCert::Untrusted, "{base}/x", 20000, 2, "network",
     "TlsSession.handshake", "TLS handshake/record failed: SEC_E_UNTRUSTED_ROOT", 3, 0},
    {"ExpiredCertificate", "[]", ServerCert::Expired, "{base}/x", 20000, 2, "network",
     "TlsSession.handshake", "TLS handshake/record failed: SEC_E_CERT_EXPIRED", 3, 0},
    {"WrongHostCertificate", "[]", ServerCert::WrongHost, "{base}/x", 20000, 2, "network",
     "TlsSession.handshake", "TLS handshake/record failed: SEC_E_WRONG_PRINCIPAL", 3, 0},
};

class HttpClientFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(HttpClientFailure, EndsWithItsErrorAfterItsAttempts) {
    const FailureCase& c = GetParam();
    TestServer server;
    std::string url = c.url;
    if (*c.script) {
        ASSERT_TRUE(server.start(c.script, {c.cert})) << server.last_error();
        url.replace(url.find("{base}"), 6, server.base_url());
    }

    LogCapture log;
    Error error;
    HttpResponse response = get(url, error, c.timeout_ms);

    EXPECT_EQ(error.code, c.code);
    EXPECT_EQ(error.module, c.module);
    EXPECT_EQ(error.function, c.function);
    EXPECT_EQ(error.message, c.message);
    EXPECT_EQ(error.traceback, "");

    std::vector<std::string> warns = log.lines("WARN");
    std::vector<std::string> retries;
    for (const std::string& w : warns) {
        if (w.rfind("GET-like", 0) != 0) retries.push_back(w);
    }
    ASSERT_EQ(retries.size(), static_cast<std::size_t>(c.attempts));
    for (int i = 0; i < c.attempts; ++i) {
        // Every attempt fails alike, so each line shows the final response.
        EXPECT_EQ(retries[i], "GET " + url + " status=" + std::to_string(response.status) +
                                  " body=" + std::to_string(response.body.size()) +
                                  " err=" + c.message + ", retry " + std::to_string(i + 1));
    }
    std::vector<std::string> errors = log.lines("ERROR");
    EXPECT_EQ(errors.size(), static_cast<std::size_t>(c.error_lines));
    for (const std::string& e : errors) EXPECT_EQ(e, c.message);

    if (*c.script && c.cert == ServerCert::None) {
        EXPECT_EQ(server.http_requests().size(), static_cast<std::size_t>(c.attempts));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, HttpClientFailure, testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HttpClient, RefusedConnectionIsTheSocketsErrorAfterThreeAttempts) {
    std::string url;
    {
        TestServer gone;
        ASSERT_TRUE(gone.start("[]")) << gone.last_error();
        url = gone.url("/x");
    }  // stopped: nothing listens on its port any more
    LogCapture log;
    Error error;
    HttpResponse response = get(url, error);
    EXPECT_EQ(error.code, 2u);
    EXPECT_EQ(error.module, "network");
    EXPECT_EQ(error.function, "Socket.connect");
    EXPECT_EQ(error.message.rfind("connect() failed: ", 0), 0u) << error.message;
    EXPECT_EQ(response.status, 0);
    std::vector<std::string> warns = log.lines("WARN");
    ASSERT_EQ(warns.size(), 3u);
    EXPECT_EQ(warns[2], "GET " + url + " status=0 body=0 err=" + error.message + ", retry 3");
}

TEST(HttpClient, ServerErrorComesBackAtOnceWithoutRetry) {
    TestServer server;
    ASSERT_TRUE(server.start(R"([{"status":500,"body":"broken","times":3}])"))
        << server.last_error();
    LogCapture log;
    Error error;
    HttpResponse response = get(server.url("/x"), error);
    EXPECT_TRUE(error.ok()) << error.message;
    EXPECT_EQ(response.status, 500);
    EXPECT_EQ(response.reason, "Internal Server Error");
    EXPECT_EQ(response.body, "broken");
    EXPECT_TRUE(log.lines("WARN").empty());
    EXPECT_EQ(server.http_requests().size(), 1u);
}

// --- Empty 200 answers: retried for GET only.

TEST(HttpClient, EmptyGetAnswerIsRetriedUntilABodyComes) {
    TestServer server;
    ASSERT_TRUE(server.start(R"([{"body":"","times":2},{"body":"finally"}])"))
        << server.last_error();
    LogCapture log;
    Error error;
    std::string url = server.url("/x");
    HttpResponse response = get(url, error);
    EXPECT_TRUE(error.ok()) << error.message;
    EXPECT_EQ(response.body, "finally");
    EXPECT_EQ(server.http_requests().size(), 3u);
    EXPECT_EQ(log.lines("WARN"), (std::vector<std::string>{
                                     "GET-like 200 with empty body cl=0 te= headers=2",
                                     "GET " + url + " status=200 body=0, retry 1",
                                     "GET-like 200 with empty body cl=0 te= headers=2",
                                     "GET " + url + " status=200 body=0, retry 2",
                                 }));
}

TEST(HttpClient, EmptyGetAnswerEveryTimeIsReturnedWithoutError) {
    TestServer server;
    ASSERT_TRUE(server.start(R"([{"body":"","framing":"chunked","times":3}])"))
        << server.last_error();
    LogCapture log;
    Error error;
    HttpResponse response = get(server.url("/x"), error);
    EXPECT_TRUE(error.ok()) << error.message;
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(server.http_requests().size(), 3u);
    std::vector<std::string> warns = log.lines("WARN");
    ASSERT_EQ(warns.size(), 6u);
    EXPECT_EQ(warns[0], "GET-like 200 with empty body cl= te=chunked headers=2");
    EXPECT_EQ(warns[5], "GET " + server.url("/x") + " status=200 body=0, retry 3");
}

TEST(HttpClient, EmptyPostAnswerIsReturnedAtOnce) {
    TestServer server;
    ASSERT_TRUE(server.start(R"([{"body":"","times":3}])")) << server.last_error();
    LogCapture log;
    HttpRequest request;
    request.method = "POST";
    request.url = server.url("/x");
    request.body = "{}";
    Error error;
    HttpResponse response = HttpClient::execute(request, error);
    EXPECT_TRUE(error.ok()) << error.message;
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(server.http_requests().size(), 1u);
    // The exchange's own note does not look at the method.
    EXPECT_EQ(log.lines("WARN"),
              std::vector<std::string>{"GET-like 200 with empty body cl=0 te= headers=2"});
}

// --- Redirects.

TEST(HttpClient, FollowsAChainOfRelativeAndAbsoluteLocations) {
    TestServer server;
    ASSERT_TRUE(server.start(R"([
        {"path":"/dir/a","status":302,"headers":[["Location","b?q=1"]]},
        {"path":"/dir/b","status":302,"headers":[["Location","/c"]]},
        {"path":"/c","status":301,"headers":[["location","{base}/d"]]},
        {"path":"/d","body":"arrived"}])"))
        << server.last_error();
    Error error;
    HttpResponse response = get(server.url("/dir/a"), error);
    EXPECT_TRUE(error.ok()) << error.message;
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "arrived");
    EXPECT_EQ(targets(server), (std::vector<std::string>{"/dir/a", "/dir/b?q=1", "/c", "/d"}));
}

TEST(HttpClient, SevenRedirectsAreFollowedAndTheEighthFails) {
    TestServer seven;
    ASSERT_TRUE(seven.start(R"([{"path":"/r","status":302,"headers":[["Location","/r"]],"times":7},
                                {"path":"/r","body":"end"}])"))
        << seven.last_error();
    Error error;
    HttpResponse response = get(seven.url("/r"), error);
    EXPECT_TRUE(error.ok()) << error.message;
    EXPECT_EQ(response.body, "end");
    EXPECT_EQ(seven.http_requests().size(), 8u);

    TestServer eight;
    ASSERT_TRUE(eight.start(
        R"([{"path":"/r","status":302,"headers":[["Location","/r"]],"body":"moved","times":9}])"))
        << eight.last_error();
    response = get(eight.url("/r"), error);
    EXPECT_EQ(error.code, 3u);
    EXPECT_EQ(error.module, "http");
    EXPECT_EQ(error.function, "HttpClient.execute");
    EXPECT_EQ(error.message, "Too many HTTP redirects");
    EXPECT_EQ(response.status, 302);
    EXPECT_EQ(response.body, "moved");
    EXPECT_EQ(eight.http_requests().size(), 8u);
}

struct MethodCase {
    int status;
    const char* method;  // of the request that follows the redirect
    const char* body;
};

class HttpClientRedirectMethod : public testing::TestWithParam<MethodCase> {};

TEST_P(HttpClientRedirectMethod, KeepsOrDropsThePostBody) {
    const MethodCase& c = GetParam();
    TestServer server;
    ASSERT_TRUE(server.start(R"([{"path":"/form","status":)" + std::to_string(c.status) +
                             R"(,"headers":[["Location","/next"]]},{"path":"/next","body":"ok"}])"))
        << server.last_error();
    HttpRequest request;
    request.method = "POST";
    request.url = server.url("/form");
    request.body = R"({"name":"bot"})";
    request.headers["X-Trace"] = "kept";
    Error error;
    HttpResponse response = HttpClient::execute(request, error);
    EXPECT_TRUE(error.ok()) << error.message;
    EXPECT_EQ(response.body, "ok");

    std::vector<Json> seen = server.http_requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].get_string("method", ""), c.method);
    EXPECT_EQ(seen[1].get_string("body", ""), c.body);
    EXPECT_EQ(header(seen[1], "Content-Length"),
              *c.body ? std::to_string(std::string(c.body).size()) : "<absent>");
    EXPECT_EQ(header(seen[1], "X-Trace"), "kept");
}

INSTANTIATE_TEST_SUITE_P(Table, HttpClientRedirectMethod,
                         testing::Values(MethodCase{301, "POST", R"({"name":"bot"})"},
                                         MethodCase{302, "POST", R"({"name":"bot"})"},
                                         MethodCase{303, "GET", ""},
                                         MethodCase{307, "POST", R"({"name":"bot"})"},
                                         MethodCase{308, "POST", R"({"name":"bot"})"}),
                         [](const auto& info) { return std::to_string(info.param.status); });

TEST(HttpClient, RedirectWithoutLocationIsTheAnswer) {
    TestServer server;
    ASSERT_TRUE(server.start(R"([{"status":301,"body":"nowhere"}])")) << server.last_error();
    Error error;
    HttpResponse response = get(server.url("/x"), error);
    EXPECT_TRUE(error.ok()) << error.message;
    EXPECT_EQ(response.status, 301);
    EXPECT_EQ(response.body, "nowhere");
    EXPECT_EQ(server.http_requests().size(), 1u);
}

// --- Answers that arrive in unusual shapes, over both transports.

struct ShapeCase {
    const char* name;
    const char* behaviour;
    ServerCert cert;
    const char* body;
};

const ShapeCase kShapes[] = {
    {"Length", R"({"body":"plain answer"})", ServerCert::None, "plain answer"},
    {"Chunked", R"({"body":"chunked answer here","framing":"chunked","chunk":4})", ServerCert::None,
     "chunked answer here"},
    {"ReadToClose", R"({"body":"until the close","framing":"close"})", ServerCert::None,
     "until the close"},
    {"SplitWrites", R"({"body":"arrives in pieces","framing":"chunked","split":3,"pause_ms":5})",
     ServerCert::None, "arrives in pieces"},
    {"ContinueThenAnswer", R"({"interim":true,"body":"after 100"})", ServerCert::None, "after 100"},
    {"TlsLength", R"({"body":"secret answer"})", ServerCert::Good, "secret answer"},
    {"TlsChunkedSplit",
     R"({"body":"secret pieces","framing":"chunked","chunk":2,"split":4,"pause_ms":5})",
     ServerCert::Good, "secret pieces"},
    {"TlsContinue", R"({"interim":true,"body":"secret after 100"})", ServerCert::Good,
     "secret after 100"},
};

class HttpClientShape : public testing::TestWithParam<ShapeCase> {};

TEST_P(HttpClientShape, GivesTheWholeBody) {
    const ShapeCase& c = GetParam();
    TestServer server;
    ASSERT_TRUE(server.start(std::string("[") + c.behaviour + "]", {c.cert}))
        << server.last_error();
    Error error;
    HttpResponse response = get(server.url("/file?v=1"), error);
    EXPECT_TRUE(error.ok()) << error.message;
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, c.body);

    std::vector<Json> seen = server.http_requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].get_string("method", ""), "GET");
    EXPECT_EQ(seen[0].get_string("target", ""), "/file?v=1");
    EXPECT_EQ(header(seen[0], "Host"), c.cert == ServerCert::None ? "127.0.0.1" : "localhost");
    EXPECT_EQ(header(seen[0], "Connection"), "close");
}

INSTANTIATE_TEST_SUITE_P(Table, HttpClientShape, testing::ValuesIn(kShapes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HttpClient, ProgressFollowsALargeTlsBody) {
    TestServer server;
    ASSERT_TRUE(server.start(R"([{"body_size":3000000}])", {ServerCert::Good}))
        << server.last_error();
    HttpRequest request;
    request.url = server.url("/big");
    std::int64_t calls = 0, last = -1, total = 0;
    bool ordered = true;
    request.progress = [&](std::int64_t received, std::int64_t expected) {
        ordered = ordered && received >= last;
        last = received;
        total = expected;
        ++calls;
    };
    Error error;
    HttpResponse response = HttpClient::execute(request, error);
    EXPECT_TRUE(error.ok()) << error.message;
    ASSERT_EQ(response.body.size(), 3000000u);
    bool pattern = true;
    for (std::size_t i = 0; i < response.body.size(); i += 4093) {
        pattern = pattern && static_cast<unsigned char>(response.body[i]) == i % 256;
    }
    EXPECT_TRUE(pattern);
    EXPECT_TRUE(ordered);
    EXPECT_GT(calls, 100);
    EXPECT_EQ(last, 3000000);
    EXPECT_EQ(total, 3000000);
}

}  // namespace
