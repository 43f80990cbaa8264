#include "net/http.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/common/error_text.h"
#include "tests/common/memory_transport.h"

namespace tarncore {
namespace {

using tarntest::error_text;
using tarntest::MemoryTransport;
using tarntest::recv_timeout_error;
using Progress = std::vector<std::pair<std::int64_t, std::int64_t>>;

Error http_error(const std::string& message) {
    return Error(3, "http", "HttpClient.execute", message);
}

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kChunked = kOk + "Transfer-Encoding: chunked\r\n\r\n";
const std::string kClosedHead = "Connection closed before HTTP headers were complete";
const std::string kClosedBody = "Connection closed before the HTTP body was complete";
const std::string kAgent =
    std::string("User-Agent: DiscordBot (") + kDocumentationUrl + ", 1.0.0)\r\n";
const std::string kIdentity = "Accept-Encoding: identity\r\n";

std::string with_length(const std::string& length) {
    return kOk + "Content-Length: " + length + "\r\n\r\n";
}

struct Decoded {
    bool head_read = false;
    HttpResponse response;
    Error error;
    Progress progress;
};

// What the HTTP client does with a fresh connection: the head, then the rest.
// In pieces of `every` bytes (0: as many as asked for) after those of `at`.
Decoded decode(const std::string& wire, std::size_t every = 0, std::vector<std::size_t> at = {},
               bool time_out = false) {
    MemoryTransport transport(wire);
    transport.split_every(every);
    transport.split_at(std::move(at));
    if (time_out) transport.end_with(recv_timeout_error());
    Decoded d;
    std::string buffer;
    d.head_read = read_until(transport, buffer, "\r\n\r\n", d.error, kMaxHeaderBytes);
    if (d.head_read) {
        d.response = read_response(
            transport, buffer, d.error,
            [&](std::int64_t got, std::int64_t total) { d.progress.emplace_back(got, total); });
    }
    for (std::size_t capacity : transport.capacities()) EXPECT_EQ(capacity, 4096u);
    return d;
}

TEST(HttpWrite, RequestBytes) {
    struct Case {
        const char* method;
        HeaderMap headers;
        std::string body;
        std::string tail;  // after the request line, Host and Connection
    };
    const Case cases[] = {
        {"POST", {}, "{}", kAgent + "Content-Length: 2\r\n" + kIdentity + "\r\n{}"},
        {"GET", {}, "", kAgent + kIdentity + "\r\n"},
        {"GET", {{"ACCEPT-ENCODING", "gzip"}}, "", "ACCEPT-ENCODING: gzip\r\n" + kAgent + "\r\n"},
        {"PUT",
         {{"user-agent", "me/2"}, {"Content-Length", "9"}},
         "abc",
         "Content-Length: 9\r\nuser-agent: me/2\r\n" + kIdentity + "\r\nabc"},
        // Host and Connection from the caller are added, not put in place.
        {"GET",
         {{"Host", "o"}, {"Connection", "keep-alive"}},
         "",
         "Connection: keep-alive\r\nHost: o\r\n" + kAgent + kIdentity + "\r\n"},
    };
    for (const Case& c : cases) {
        MemoryTransport transport;
        HttpRequest request{c.method, "", c.headers, c.body, 20000, {}};
        EXPECT_TRUE(
            write_request(transport, request, {"http", "h", 8080, "/p", "q=1", false}).ok());
        EXPECT_EQ(transport.sent(),
                  c.method + std::string(" /p?q=1 HTTP/1.1\r\nHost: h\r\nConnection: close\r\n") +
                      c.tail);
        EXPECT_EQ(transport.send_calls(), 1u);
    }
    // An IPv6 host is written as stored, without brackets or port.
    MemoryTransport transport;
    EXPECT_TRUE(write_request(transport, {}, {"http", "::1", 9000, "/", "", false}).ok());
    EXPECT_TRUE(transport.sent().starts_with("GET / HTTP/1.1\r\nHost: ::1\r\n"))
        << transport.sent();

    Error broken(2, "network", "Socket.send", "Connection reset by peer");
    transport.fail_sends(broken);
    EXPECT_EQ(error_text(write_request(transport, {}, {"http", "h", 80, "/", "", false})),
              error_text(broken));
}

// "<status> <reason> | <body>", and " ! <message>" after a failure.
std::string outcome(const Decoded& d) {
    const HttpResponse& r = d.response;
    return std::to_string(r.status) + " " + r.reason + " | " + r.body +
           (d.error.failed() ? " ! " + d.error.message : "");
}

struct ResponseCase {
    std::string wire;
    std::string outcome;
    Progress progress;     // when the whole wire arrives in one receive
    bool sniffed = false;  // chunks guessed from bytes that came with the head
};

const std::vector<ResponseCase>& response_cases() {
    static const std::vector<ResponseCase> cases = {
        {with_length("5") + "hello", "200 OK | hello", {{5, 5}}},
        // The first progress call counts what came with the head, before the cut.
        {with_length("5") + "hello, world", "200 OK | hello", {{12, 5}}},
        {with_length("5") + "hel",
         "200 OK | hel ! Truncated HTTP body (expected 5, got 3)",
         {{3, 5}}},
        {"HTTP/1.0 200 OK\r\nServer: x\r\n\r\nall of it", "200 OK | all of it", {{9, -1}}},
        {kOk + "\r\n", "200 OK | ", {{0, -1}}},
        {with_length("0"), "200 OK | ", {{0, 0}}},
        {with_length("0") + "more", "200 OK | more", {{4, -1}}},
        {with_length("+3 bytes") + "abcdef", "200 OK | abc", {{6, 3}}},
        {with_length("-0"), "200 OK | ", {{0, 0}}},
        {with_length("abc") + "body", "200 OK |  ! Invalid Content-Length", {}},
        {with_length("4294967296") + "body", "200 OK |  ! Invalid Content-Length", {}},
        {kOk + "\r\n5\r\nhello\r\n0\r\n\r\n", "200 OK | hello", {{5, -1}}, true},
        {with_length("3") + "5\r\nhello\r\n0\r\n\r\n", "200 OK | hello", {{5, -1}}, true},
        {kOk + "\r\n000000005\r\nhi\r\n", "200 OK | 000000005\r\nhi\r\n", {{15, -1}}},
        {kOk + "Transfer-Encoding: Chunked\r\n\r\na;ext=1\r\n0123456789\r\n3 \t\r\nabc\r\n0\r\n"
               "Trailer: x\r\n\r\n",
         "200 OK | 0123456789abc",
         {{10, -1}, {13, -1}}},
        {kOk + "transfer-encoding: gzip, chunked\r\n\r\n0x2\r\nhi\r\n\r\n",
         "200 OK | hi",
         {{2, -1}}},
        {kChunked + "3\r\nabc4\r\nwxyz\r\n0\r\n\r\n", "200 OK | abcwxyz", {{3, -1}, {7, -1}}},
        {kChunked + "2\r\nok\r\nzz\r\nxx\r\n0\r\n\r\n",
         "200 OK | ok ! Invalid chunk size",
         {{2, -1}}},
        {kChunked + "100000000\r\n", "200 OK |  ! Invalid chunk size", {}},
        {kChunked + "2\r\nok\r\n9\r\nabc", "200 OK | ok ! " + kClosedBody, {{2, -1}}},
        {kChunked + "2\r\nok\r\n", "200 OK | ok ! " + kClosedBody, {{2, -1}}},
        {"HTTP/1.1 204 No Content\r\n\r\nstray bytes", "204 No Content | ", {}},
        {"HTTP/1.1 205 Reset\r\nContent-Length: 4\r\n\r\n", "205 Reset | ", {}},
        {"HTTP/1.1 304 Not Modified\r\nTransfer-Encoding: chunked\r\n\r\n",
         "304 Not Modified | ",
         {}},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok",
         "201 Created | ok",
         {{2, 2}}},
        {"HTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\nHTTP/1.1 103 Early Hints\r\n\r\n" +
             with_length("1") + "x",
         "200 OK | x",
         {{1, 1}}},
        // Other interim codes are the answer.
        {"HTTP/1.1 102 Processing\r\n\r\nrest", "102 Processing | rest", {{4, -1}}},
        {"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200", "100 Continue |  ! " + kClosedHead, {}},
        {"HTTP/1.1 404\r\nContent-Length: 0\r\n\r\n", "404  | ", {{0, 0}}},
        {"HTTP/1.1 500  Bad  \r\n\r\n", "500  Bad   | ", {{0, -1}}},
        {"SOMETHING odd\r\n\r\nx", "0  | x", {{1, -1}}},
        {kOk + "Content-Length: 5\r\n", "0  |  ! " + kClosedHead, {}},
        {"", "0  |  ! " + kClosedHead, {}},
        {"\r\n\r\n" + kOk + "\r\n", "0  |  ! HTTP response is missing a status line", {}},
    };
    return cases;
}

// Bodies framed by the head decode the same however the bytes arrive.
TEST(HttpRead, DecodesResponsesInAnySplit) {
    for (const ResponseCase& c : response_cases()) {
        for (std::size_t piece : {0, 1, 2, 7}) {
            if (c.sniffed && piece != 0) continue;
            Decoded d = decode(c.wire, piece);
            const std::string where =
                testing::PrintToString(c.wire) + " in pieces of " + std::to_string(piece);
            EXPECT_EQ(outcome(d), c.outcome) << where;
            if (d.error.failed()) {
                EXPECT_EQ(error_text(d.error), error_text(http_error(d.error.message))) << where;
            }
            if (piece == 0) {
                EXPECT_EQ(d.progress, c.progress) << where;
            }
        }
    }
}

TEST(HttpRead, ChunksAreOnlyGuessedFromBytesThatCameWithTheHead) {
    Decoded d = decode(kOk + "\r\n5\r\nhello\r\n0\r\n\r\n", 0, {kOk.size() + 2});
    EXPECT_EQ(outcome(d), "200 OK | 5\r\nhello\r\n0\r\n\r\n");
}

TEST(HttpRead, TransportFailuresPassUnchanged) {
    const std::pair<std::string, std::string> cases[] = {
        // wire, body read before it
        {kOk, ""},
        {with_length("10") + "four", "four"},
        {kOk + "\r\nsome", "some"},
        {with_length("0"), ""},
        {kChunked + "1\r\na\r\n4\r\nab", "a"},
        {kChunked, ""},
        {"HTTP/1.1 100 Continue\r\n\r\n", ""},
    };
    for (const auto& [wire, body] : cases) {
        for (std::size_t piece : {0, 1}) {
            Decoded d = decode(wire, piece, {}, true);
            EXPECT_EQ(d.head_read, wire.find("\r\n\r\n") != std::string::npos) << wire;
            EXPECT_EQ(d.response.body, body) << wire;
            EXPECT_EQ(error_text(d.error), error_text(recv_timeout_error())) << wire;
        }
    }
}

TEST(HttpRead, HeaderFields) {
    for (std::size_t piece : {0, 1}) {
        Decoded d = decode(
            "HTTP/1.1 302 Found\r\nSet-Cookie: a=1\r\nSet-Cookie: b=2\r\nlocation: /second\r\n"
            "Location: /first\r\nX-Pad:   spaced  \r\nX-Tab:\tkept\r\nno colon here\r\n\n"
            " Odd Name :v:w\nContent-Length: 0\r\n\r\n",
            piece);
        ASSERT_TRUE(d.error.ok()) << d.error.message;
        const HeaderMap expected = {
            {"Set-Cookie", "a=1"},   {"location", "/second"}, {"Location", "/first"},
            {"X-Pad", "spaced  "},   {"X-Tab", "\tkept"},     {" Odd Name ", "v:w"},
            {"Content-Length", "0"},
        };
        EXPECT_EQ(d.response.headers, expected);
        EXPECT_EQ(header_value(d.response.headers, "LOCATION"), "/first");
        EXPECT_EQ(header_value(d.response.headers, "content-LENGTH"), "0");
        EXPECT_EQ(header_value(d.response.headers, "Odd Name"), "");
    }
}

TEST(HttpRead, ParserNeedsACompleteHead) {
    const std::pair<const char*, const char*> cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n", "Malformed HTTP response"},
        {"\r\n\r\n", "HTTP response is missing a status line"},
    };
    for (const auto& [text, message] : cases) {
        MemoryTransport transport(kOk + "\r\n");
        std::string buffer = text;
        Error error;
        HttpResponse response = read_response(transport, buffer, error, nullptr);
        EXPECT_EQ(error_text(error), error_text(http_error(message)));
        EXPECT_EQ(response.status, 0) << text;
        EXPECT_TRUE(transport.capacities().empty()) << text;
    }
}

TEST(HttpRead, HeadSizeIsLimited) {
    const Error too_big = http_error("HTTP response exceeded the maximum header size");
    // The end comes only after the 4096 bytes that a receive may overshoot by.
    std::string huge = kOk + "X-Big: " + std::string(kMaxHeaderBytes + 4096, 'a');
    MemoryTransport transport(huge + "\r\n\r\n");
    std::string buffer;
    Error error;
    EXPECT_FALSE(read_until(transport, buffer, "\r\n\r\n", error, kMaxHeaderBytes));
    EXPECT_EQ(error_text(error), error_text(too_big));
    EXPECT_LE(buffer.size(), kMaxHeaderBytes + 4096);

    // The check comes before each receive: a limit of 10 stops at 11 bytes.
    MemoryTransport slow(huge);
    slow.split_every(1);
    buffer.clear();
    EXPECT_FALSE(read_until(slow, buffer, "\r\n\r\n", error, 10));
    EXPECT_EQ(buffer.size(), 11u);
    EXPECT_EQ(error_text(error), error_text(too_big));
}

TEST(HttpRead, ProgressFollowsTheBody) {
    const std::string head = with_length("10");
    Decoded d = decode(head + "0123456789", 0, {head.size(), 4, 6});
    EXPECT_EQ(d.progress, (Progress{{0, 10}, {4, 10}, {10, 10}}));

    // After a zero length turned out wrong, the total stays 0.
    d = decode(with_length("0") + "abcdef", 0, {with_length("0").size(), 2, 4});
    EXPECT_EQ(d.response.body, "abcdef");
    EXPECT_EQ(d.progress, (Progress{{0, 0}, {6, 0}}));
}

}  // namespace
}  // namespace tarncore
