#include "net/http.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/common/memory_transport.h"

namespace tarncore {
namespace {

using tarntest::MemoryTransport;
using tarntest::recv_timeout_error;
using Progress = std::vector<std::pair<std::int64_t, std::int64_t>>;

const std::string kAgent =
    std::string("User-Agent: DiscordBot (") + kDocumentationUrl + ", 1.0.0)\r\n";

struct Decoded {
    bool head_read = false;
    HttpResponse response;
    Error error;
    Progress progress;
};

// What the HTTP client does with a fresh connection: the head, then the rest.
Decoded decode(MemoryTransport& transport) {
    Decoded d;
    std::string buffer;
    d.head_read = read_until(transport, buffer, "\r\n\r\n", d.error, kMaxHeaderBytes);
    if (!d.head_read) return d;
    d.response = read_response(
        transport, buffer, d.error,
        [&](std::int64_t got, std::int64_t total) { d.progress.emplace_back(got, total); });
    return d;
}

void expect_http_error(const Error& error, const std::string& message, const std::string& where) {
    EXPECT_EQ(error.code, 3u) << where;
    EXPECT_EQ(error.module, "http") << where;
    EXPECT_EQ(error.function, "HttpClient.execute") << where;
    EXPECT_EQ(error.message, message) << where;
    EXPECT_TRUE(error.traceback.empty()) << where;
}

void expect_same_error(const Error& actual, const Error& expected, const std::string& where) {
    EXPECT_EQ(actual.code, expected.code) << where;
    EXPECT_EQ(actual.module, expected.module) << where;
    EXPECT_EQ(actual.function, expected.function) << where;
    EXPECT_EQ(actual.message, expected.message) << where;
}

Url parsed(const char* text) {
    Error error;
    Url url = Url::parse(text, error);
    EXPECT_TRUE(error.ok()) << text;
    return url;
}

TEST(HttpWrite, RequestBytes) {
    struct Case {
        const char* name;
        const char* method;
        const char* url;
        HeaderMap headers;
        std::string body;
        std::string expected;
    };
    const Case cases[] = {
        {"post with body",
         "POST",
         "https://api.example/v1/x",
         {},
         "{}",
         "POST /v1/x HTTP/1.1\r\nHost: api.example\r\nConnection: close\r\n" + kAgent +
             "Content-Length: 2\r\nAccept-Encoding: identity\r\n\r\n{}"},
        {"get has no length",
         "GET",
         "http://h:8080/p?q=1",
         {},
         "",
         "GET /p?q=1 HTTP/1.1\r\nHost: h\r\nConnection: close\r\n" + kAgent +
             "Accept-Encoding: identity\r\n\r\n"},
        {"caller encoding",
         "GET",
         "http://h",
         {{"ACCEPT-ENCODING", "gzip"}},
         "",
         "GET / HTTP/1.1\r\nHost: h\r\nConnection: close\r\nACCEPT-ENCODING: gzip\r\n" + kAgent +
             "\r\n"},
        {"caller agent and length",
         "PUT",
         "http://h/u",
         {{"user-agent", "me/2"}, {"Content-Length", "9"}},
         "abc",
         "PUT /u HTTP/1.1\r\nHost: h\r\nConnection: close\r\nContent-Length: 9\r\n"
         "user-agent: me/2\r\nAccept-Encoding: identity\r\n\r\nabc"},
        {"host and connection are added, not replaced",
         "GET",
         "http://h/",
         {{"Host", "other"}, {"Connection", "keep-alive"}, {"Accept", "*/*"}},
         "",
         "GET / HTTP/1.1\r\nHost: h\r\nConnection: close\r\nAccept: */*\r\n"
         "Connection: keep-alive\r\nHost: other\r\n" +
             kAgent + "Accept-Encoding: identity\r\n\r\n"},
        {"ipv6 host as stored, no port",
         "DELETE",
         "http://[::1]:9000",
         {},
         "",
         "DELETE / HTTP/1.1\r\nHost: ::1\r\nConnection: close\r\n" + kAgent +
             "Accept-Encoding: identity\r\n\r\n"},
    };
    for (const Case& c : cases) {
        HttpRequest request;
        request.method = c.method;
        request.url = c.url;
        request.headers = c.headers;
        request.body = c.body;
        MemoryTransport transport;
        Error error = write_request(transport, request, parsed(c.url));
        EXPECT_TRUE(error.ok()) << c.name;
        EXPECT_EQ(transport.sent(), c.expected) << c.name;
        EXPECT_EQ(transport.send_calls(), 1u) << c.name;
    }
}

TEST(HttpWrite, SendFailureIsPassedUp) {
    Error broken(kErrNetwork, "network", "Socket.send", "Connection reset by peer");
    MemoryTransport transport;
    transport.fail_sends(broken);
    HttpRequest request;
    request.url = "http://h/";
    expect_same_error(write_request(transport, request, parsed("http://h/")), broken, "send");
}

struct ResponseCase {
    const char* name;
    std::string wire;
    std::int32_t status;
    const char* reason;
    std::string body;
    const char* message;  // empty: success
    Progress progress;
};

const std::vector<ResponseCase>& response_cases() {
    static const std::vector<ResponseCase> cases = {
        {"length with the head",
         "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
         200,
         "OK",
         "hello",
         "",
         {{5, 5}}},
        // The first progress call counts what came with the head, before the cut.
        {"longer than declared",
         "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello, world",
         200,
         "OK",
         "hello",
         "",
         {{12, 5}}},
        {"shorter than declared",
         "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhel",
         200,
         "OK",
         "hel",
         "Truncated HTTP body (expected 5, got 3)",
         {{3, 5}}},
        {"read to close",
         "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nall of it",
         200,
         "OK",
         "all of it",
         "",
         {{9, -1}}},
        {"nothing after the head", "HTTP/1.1 200 OK\r\n\r\n", 200, "OK", "", "", {{0, -1}}},
        {"declared zero",
         "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n",
         200,
         "OK",
         "",
         "",
         {{0, 0}}},
        {"declared zero with data",
         "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nmore",
         200,
         "OK",
         "more",
         "",
         {{4, -1}}},
        {"length with sign and junk",
         "HTTP/1.1 200 OK\r\nContent-Length: +3 bytes\r\n\r\nabcdef",
         200,
         "OK",
         "abc",
         "",
         {{6, 3}}},
        {"length minus zero",
         "HTTP/1.1 200 OK\r\nContent-Length: -0\r\n\r\n",
         200,
         "OK",
         "",
         "",
         {{0, 0}}},
        {"length not a number",
         "HTTP/1.1 200 OK\r\nContent-Length: abc\r\n\r\nbody",
         200,
         "OK",
         "",
         "Invalid Content-Length",
         {}},
        {"length over 32 bits",
         "HTTP/1.1 200 OK\r\nContent-Length: 4294967296\r\n\r\nbody",
         200,
         "OK",
         "",
         "Invalid Content-Length",
         {}},
        {"sniffed chunks",
         "HTTP/1.1 200 OK\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
         200,
         "OK",
         "hello",
         "",
         {{5, -1}}},
        {"sniffed chunks over a length",
         "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n5\r\nhello\r\n0\r\n\r\n",
         200,
         "OK",
         "hello",
         "",
         {{5, -1}}},
        {"nine hex digits are no chunk line",
         "HTTP/1.1 200 OK\r\n\r\n000000005\r\nhello\r\n0\r\n\r\n",
         200,
         "OK",
         "000000005\r\nhello\r\n0\r\n\r\n",
         "",
         {{23, -1}}},
        {"chunked in any case with extension",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\na;ext=1\r\n0123456789\r\n"
         "3 \t\r\nabc\r\n0\r\nTrailer: x\r\n\r\n",
         200,
         "OK",
         "0123456789abc",
         "",
         {{10, -1}, {13, -1}}},
        {"chunk with 0x and empty size line",
         "HTTP/1.1 200 OK\r\ntransfer-encoding: gzip, chunked\r\n\r\n0x2\r\nhi\r\n\r\n",
         200,
         "OK",
         "hi",
         "",
         {{2, -1}}},
        {"chunk data without its line end",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc4\r\nwxyz\r\n0\r\n\r\n",
         200,
         "OK",
         "abcwxyz",
         "",
         {{3, -1}, {7, -1}}},
        {"bad chunk size",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\nzz\r\nxx\r\n0\r\n\r\n",
         200,
         "OK",
         "ok",
         "Invalid chunk size",
         {{2, -1}}},
        {"chunk size over 32 bits",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100000000\r\n",
         200,
         "OK",
         "",
         "Invalid chunk size",
         {}},
        {"closed inside a chunk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n9\r\nabc",
         200,
         "OK",
         "ok",
         "Connection closed before the HTTP body was complete",
         {{2, -1}}},
        {"closed before the last chunk",
         "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n",
         200,
         "OK",
         "ok",
         "Connection closed before the HTTP body was complete",
         {{2, -1}}},
        {"no content ignores what follows",
         "HTTP/1.1 204 No Content\r\n\r\nstray bytes",
         204,
         "No Content",
         "",
         "",
         {}},
        {"reset content",
         "HTTP/1.1 205 Reset\r\nContent-Length: 4\r\n\r\n",
         205,
         "Reset",
         "",
         "",
         {}},
        {"not modified",
         "HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n",
         304,
         "Not Modified",
         "",
         "",
         {}},
        {"continue, then the answer",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok",
         201,
         "Created",
         "ok",
         "",
         {{2, 2}}},
        {"two early hints",
         "HTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\nHTTP/1.1 103 Early Hints\r\n\r\n"
         "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx",
         200,
         "OK",
         "x",
         "",
         {{1, 1}}},
        {"other interim codes are answers",
         "HTTP/1.1 102 Processing\r\n\r\nHTTP/1.1 200 OK\r\n\r\n",
         102,
         "Processing",
         "HTTP/1.1 200 OK\r\n\r\n",
         "",
         {{19, -1}}},
        {"interim without the answer",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200",
         100,
         "Continue",
         "",
         "Connection closed before HTTP headers were complete",
         {}},
        {"status without reason",
         "HTTP/1.1 404\r\nContent-Length: 0\r\n\r\n",
         404,
         "",
         "",
         "",
         {{0, 0}}},
        {"one space of the reason removed",
         "HTTP/1.1 500  Bad  \r\n\r\n",
         500,
         " Bad  ",
         "",
         "",
         {{0, -1}}},
        {"unreadable status", "SOMETHING odd\r\n\r\nx", 0, "", "x", "", {{1, -1}}},
        {"closed before the head",
         "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n",
         0,
         "",
         "",
         "Connection closed before HTTP headers were complete",
         {}},
        {"nothing at all",
         "",
         0,
         "",
         "",
         "Connection closed before HTTP headers were complete",
         {}},
        {"empty head",
         "\r\n\r\nHTTP/1.1 200 OK\r\n\r\n",
         0,
         "",
         "",
         "HTTP response is missing a status line",
         {}},
    };
    return cases;
}

TEST(HttpRead, DecodesResponses) {
    for (const ResponseCase& c : response_cases()) {
        MemoryTransport transport(c.wire);
        Decoded d = decode(transport);
        EXPECT_EQ(d.response.status, c.status) << c.name;
        EXPECT_EQ(d.response.reason, c.reason) << c.name;
        EXPECT_EQ(d.response.body, c.body) << c.name;
        EXPECT_EQ(d.progress, c.progress) << c.name;
        if (*c.message) {
            expect_http_error(d.error, c.message, c.name);
        } else {
            EXPECT_TRUE(d.error.ok()) << c.name << ": " << d.error.message;
        }
        for (std::size_t capacity : transport.capacities()) EXPECT_EQ(capacity, 4096u) << c.name;
    }
}

// Heads do not depend on how the bytes arrive, and with the framing named in
// the head neither do bodies. Only chunks guessed from the bytes that came
// with the head can differ, so those rows are left out.
TEST(HttpRead, SplitReadsDecodeLikeOneRead) {
    std::size_t compared = 0;
    for (const ResponseCase& c : response_cases()) {
        if (std::string(c.name).starts_with("sniffed")) continue;
        for (bool fails : {false, true}) {
            MemoryTransport whole(c.wire);
            if (fails) whole.end_with(recv_timeout_error());
            Decoded expected = decode(whole);
            for (std::size_t size : {1, 2, 3, 7, 64}) {
                MemoryTransport split(c.wire);
                split.split_every(size);
                if (fails) split.end_with(recv_timeout_error());
                Decoded d = decode(split);
                std::string where = std::string(c.name) + " in pieces of " + std::to_string(size) +
                                    (fails ? ", ending in a time-out" : "");
                EXPECT_EQ(d.head_read, expected.head_read) << where;
                EXPECT_EQ(d.response.status, expected.response.status) << where;
                EXPECT_EQ(d.response.reason, expected.response.reason) << where;
                EXPECT_EQ(d.response.headers, expected.response.headers) << where;
                EXPECT_EQ(d.response.body, expected.response.body) << where;
                expect_same_error(d.error, expected.error, where);
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 200u);
}

TEST(HttpRead, ChunksAreOnlyGuessedFromBytesThatCameWithTheHead) {
    const std::string head = "HTTP/1.1 200 OK\r\n\r\n";
    const std::string body = "5\r\nhello\r\n0\r\n\r\n";
    MemoryTransport transport(head + body);
    transport.split_at({head.size()});
    Decoded d = decode(transport);
    EXPECT_TRUE(d.error.ok());
    EXPECT_EQ(d.response.body, body);
}

TEST(HttpRead, TransportFailuresPassUnchanged) {
    struct Case {
        const char* name;
        std::string wire;
        std::string body;
        bool head_read;
    };
    const Case cases[] = {
        {"before the head", "HTTP/1.1 200 OK\r\n", "", false},
        {"inside a length", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nfour", "four", true},
        {"reading to close", "HTTP/1.1 200 OK\r\n\r\nsome", "some", true},
        {"probing a zero length", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", "", true},
        {"inside chunks", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1\r\na\r\n4\r\nab",
         "a", true},
        {"waiting for a chunk line", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n", "",
         true},
        {"after an interim head", "HTTP/1.1 100 Continue\r\n\r\n", "", true},
    };
    for (const Case& c : cases) {
        MemoryTransport transport(c.wire);
        transport.end_with(recv_timeout_error());
        Decoded d = decode(transport);
        EXPECT_EQ(d.head_read, c.head_read) << c.name;
        EXPECT_EQ(d.response.body, c.body) << c.name;
        expect_same_error(d.error, recv_timeout_error(), c.name);
    }
}

TEST(HttpRead, HeaderFields) {
    MemoryTransport transport(
        "HTTP/1.1 302 Found\r\n"
        "Set-Cookie: a=1\r\n"
        "Set-Cookie: b=2\r\n"
        "location: /second\r\n"
        "Location: /first\r\n"
        "X-Pad:   spaced  \r\n"
        "X-Tab:\tkept\r\n"
        "no colon here\r\n"
        "\n"
        " Odd Name :v:w\n"
        "Bare-LF: yes\r\n"
        "Content-Length: 0\r\n\r\n");
    Decoded d = decode(transport);
    ASSERT_TRUE(d.error.ok()) << d.error.message;
    const HeaderMap expected = {
        {"Set-Cookie", "a=1"}, {"location", "/second"}, {"Location", "/first"},
        {"X-Pad", "spaced  "}, {"X-Tab", "\tkept"},     {" Odd Name ", "v:w"},
        {"Bare-LF", "yes"},    {"Content-Length", "0"},
    };
    EXPECT_EQ(d.response.headers, expected);
    EXPECT_EQ(header_value(d.response.headers, "LOCATION"), "/first");
    EXPECT_EQ(header_value(d.response.headers, "set-cookie"), "a=1");
    EXPECT_EQ(header_value(d.response.headers, "content-LENGTH"), "0");
    EXPECT_EQ(header_value(d.response.headers, "Odd Name"), "");
    EXPECT_EQ(header_value(d.response.headers, "Missing"), "");
}

TEST(HttpRead, ParserNeedsACompleteHead) {
    const std::pair<const char*, const char*> cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n", "Malformed HTTP response"},
        {"", "Malformed HTTP response"},
        {"\r\n\r\n", "HTTP response is missing a status line"},
    };
    for (const auto& [text, message] : cases) {
        MemoryTransport transport("HTTP/1.1 200 OK\r\n\r\n");
        std::string buffer = text;
        Error error;
        HttpResponse response = read_response(transport, buffer, error, nullptr);
        expect_http_error(error, message, text);
        EXPECT_EQ(response.status, 0) << text;
        EXPECT_TRUE(response.headers.empty()) << text;
        EXPECT_EQ(transport.capacities().size(), 0u) << text;
    }
}

TEST(HttpRead, HeadSizeIsLimited) {
    // The end comes only after the 4096 bytes that a receive may overshoot by.
    std::string huge = "HTTP/1.1 200 OK\r\nX-Big: " + std::string(kMaxHeaderBytes + 4096, 'a');
    MemoryTransport transport(huge + "\r\n\r\n");
    std::string buffer;
    Error error;
    EXPECT_FALSE(read_until(transport, buffer, "\r\n\r\n", error, kMaxHeaderBytes));
    expect_http_error(error, "HTTP response exceeded the maximum header size", "1 MiB head");
    EXPECT_GT(buffer.size(), kMaxHeaderBytes);
    EXPECT_LE(buffer.size(), kMaxHeaderBytes + 4096);

    // The check comes before each receive: a limit of 10 stops at 11 bytes.
    MemoryTransport slow(huge);
    slow.split_every(1);
    buffer.clear();
    EXPECT_FALSE(read_until(slow, buffer, "\r\n\r\n", error, 10));
    EXPECT_EQ(buffer.size(), 11u);
    expect_http_error(error, "HTTP response exceeded the maximum header size", "limit 10");

    // A delimiter already present needs no receive, whatever the limit.
    MemoryTransport idle;
    buffer = "x\r\n\r\n" + std::string(100, 'b');
    EXPECT_TRUE(read_until(idle, buffer, "\r\n\r\n", error, 10));
    EXPECT_TRUE(error.ok());
    EXPECT_TRUE(idle.capacities().empty());
}

TEST(HttpRead, ProgressFollowsTheBody) {
    std::string wire = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789";
    MemoryTransport transport(wire);
    transport.split_at({wire.size() - 10, 4, 6});
    Decoded d = decode(transport);
    EXPECT_TRUE(d.error.ok());
    EXPECT_EQ(d.progress, (Progress{{0, 10}, {4, 10}, {10, 10}}));

    // After a zero length turned out wrong, the total stays 0.
    wire = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\nabcdef";
    MemoryTransport late(wire);
    late.split_at({wire.size() - 6, 2, 4});
    d = decode(late);
    EXPECT_TRUE(d.error.ok());
    EXPECT_EQ(d.response.body, "abcdef");
    EXPECT_EQ(d.progress, (Progress{{0, 0}, {6, 0}}));
}

}  // namespace
}  // namespace tarncore
