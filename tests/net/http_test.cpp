#include "net/http.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "net/proxy.h"
#include "net/url.h"
#include "support/layout.h"
#include "tests/common/fake_tls_engine.h"
#include "tests/common/memory_transport.h"
#include "tests/common/test_data.h"

namespace tarncore {
namespace {

using namespace tarntest;

const Url kUrl{"http", "h", 8080, "/p", "q=1", false};

// [method, the caller's headers, body, the bytes sent for kUrl or the error:
// then nothing is sent].
TARN_ROWS(HttpRequestSent, "net/requests.json", "rows");
TEST_P(HttpRequestSent, WritesTheBytesOrNothing) {
    HttpRequest request;
    request.method = text_at(row, 0);
    for (const Json& pair : items(items(row)[1]))
        request.headers[text_at(pair, 0)] = text_at(pair, 1);
    request.body = text_at(row, 2);
    MemoryTransport transport;
    const Error error = write_request(transport, request, kUrl);
    EXPECT_EQ(error.failed() ? error_text(error) : transport.sent(), text_at(row, 3));
    EXPECT_EQ(transport.send_calls(), error.failed() ? 0u : 1u);
}

// "<status> <reason> | <body>", and " ! <error>" after a failure.
std::string outcome(const HttpResponse& r, const Error& error) {
    return std::to_string(r.status) + " " + r.reason + " | " + r.body +
           (error.failed() ? " ! " + error_text(error) : "");
}

// seed: the wire in tests/data/seeds/http_response_fuzz, also a seed of the
// response fuzzer (first byte: 0x80 a time-out after it, 0x40 an unclean TLS
// end; second: the body limit + 1, 0 for the default); outcome: status reason
// | body ! error; progress: received/total of each call when it arrives
// whole; at: receive sizes; sniffed: chunks guessed from what came with the
// head; headers: the fields kept ("name: value|" each, in the map's order),
// then the case-blind lookup of Location. Bodies framed by the head decode
// the same however the bytes arrive.
TARN_ROWS(HttpResponseWire, "net/responses.json", "rows");
TEST_P(HttpResponseWire, DecodesInAnySplit) {
    const std::string seed = file_bytes(
        source_path("tests/data/seeds/http_response_fuzz/" + row.get_string("seed", "")));
    const auto control = static_cast<unsigned char>(seed[0]);
    const auto limit = static_cast<unsigned char>(seed[1]);
    std::vector<std::size_t> at;
    for (const Json& n : items(row.find("at"))) at.push_back(n.integer);
    for (std::size_t piece : {0, 1, 2, 7}) {
        if ((row.find("sniffed").kind != JsonKind::Null || !at.empty()) && piece != 0) break;
        MemoryTransport transport(seed.substr(2));
        transport.split_every(piece);
        transport.split_at(at);
        if (control & 0x80) transport.end_with(receive_timeout_error());
        if (control & 0x40) transport.end_with(tls_closed_error(), 0);
        std::string progress;
        Error error;
        std::string buffer;
        HttpResponse response;
        if (read_until(transport, buffer, "\r\n\r\n", error, kMaxHeaderBytes)) {
            response = read_response(
                transport, buffer, error,
                [&](std::int64_t got, std::int64_t total) {
                    progress += (progress.empty() ? "" : " ") + std::to_string(got) + "/" +
                                std::to_string(total);
                },
                limit ? limit - 1 : kDefaultMaxBodyBytes);
        }
        EXPECT_EQ(outcome(response, error), row.get_string("outcome", "")) << "pieces of " << piece;
        if (row.find("headers").kind == JsonKind::String) {
            std::string fields;
            for (const auto& [name, value] : response.headers) fields += name + ": " + value + "|";
            EXPECT_EQ(fields + "; LOCATION: " + header_value(response.headers, "LOCATION"),
                      row.get_string("headers", ""));
        }
        if (piece == 0 && row.find("progress").kind != JsonKind::Null) {
            EXPECT_EQ(progress, row.get_string("progress", ""));
        }
    }
}

TEST(HttpRead, AHeadWithoutItsEndIsMalformed) {
    MemoryTransport transport;
    std::string buffer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n";
    Error error;
    EXPECT_EQ(read_response(transport, buffer, error, nullptr).status, 0);
    EXPECT_EQ(error_text(error), "3 http HttpClient.execute: Malformed HTTP response");
}

TEST(HttpRead, HeadSizeIsLimited) {
    // The check comes before each receive: a limit of 10 stops at 11 bytes.
    MemoryTransport slow("HTTP/1.1 200 OK\r\nX-Big: " + std::string(64, 'a') + "\r\n\r\n");
    slow.split_every(1);
    std::string buffer;
    Error error;
    EXPECT_FALSE(read_until(slow, buffer, "\r\n\r\n", error, 10));
    EXPECT_EQ(buffer.size(), 11u);
    EXPECT_EQ(error_text(error),
              "3 http HttpClient.execute: HTTP response exceeded the maximum header size");
}

// Long chunks are received into place and the framing after them closed up:
// whatever the receive sizes, and with a body limit that ends inside the
// framing, the body is the chunk data and nothing else.
TEST(HttpRead, LongChunksLandInPlaceInAnySplit) {
    std::string wire = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    std::string body;
    for (std::size_t size : {100000u, 16384u, 3u, 70001u}) {
        const std::string chunk = lcg(size + body.size()).substr(body.size());
        wire += (std::ostringstream() << std::hex << size).str() + ";x=1\r\n" + chunk + "\r\n";
        body += chunk;
    }
    wire += "0\r\n\r\n";
    for (const std::int64_t limit : {kDefaultMaxBodyBytes, std::int64_t(body.size())}) {
        for (std::size_t piece : {0u, 1000u, 16389u, 65536u}) {
            MemoryTransport transport(wire);
            transport.split_every(piece);
            std::string buffer;
            Error error;
            ASSERT_TRUE(read_until(transport, buffer, "\r\n\r\n", error, kMaxHeaderBytes));
            const HttpResponse response = read_response(transport, buffer, error, nullptr, limit);
            EXPECT_EQ(error_text(error), "0  : ") << piece;
            EXPECT_TRUE(response.body == body) << piece << " " << response.body.size();
        }
    }
}

// A body that outgrows its reservation moves once and keeps every byte.
TEST(BodyBuffer, GrowsPastItsPlan) {
    BodyBuffer buffer;
    ASSERT_TRUE(buffer.plan(10));
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        const std::string piece(5000 + i, static_cast<char>('a' + i % 26));
        buffer.append(piece);
        expected += piece;
    }
    std::span<char> room = buffer.room(3);
    ASSERT_EQ(room.size(), 3u);
    std::memcpy(room.data(), "xyz", 3);
    buffer.grow(2);
    EXPECT_TRUE(buffer == expected + "xy");
    const BodyBuffer copy = buffer;
    EXPECT_TRUE(copy == buffer.view());
}

// The record in one line: scheme host port path ?query, and "tls" when set.
std::string fields(const Url& u) {
    return u.scheme + " " + u.host + " " + std::to_string(u.port) + " " + u.path + " ?" + u.query +
           (u.tls ? " tls" : "");
}

// [text, its fields as `fields` writes them, or the error: then nothing of
// the text is kept].
TARN_ROWS(UrlParse, "net/url.json", "parse");
TEST_P(UrlParse, ParsesOrRefuses) {
    Error error(1, "stale", "stale", "stale");
    const Url url = Url::parse(text_at(row, 0), error);
    EXPECT_EQ(error.failed() ? error_text(error) : fields(url), text_at(row, 1));
    EXPECT_TRUE(error.ok() || fields(url) == fields(Url())) << fields(url);
}

// [host, whether it names this machine].
TARN_ROWS(UrlLoopback, "net/url.json", "loopback");
TEST_P(UrlLoopback, Judges) {
    EXPECT_EQ(is_loopback_host(text_at(row, 0)), text_at(row, 1) == "true");
}

// [[scheme, host, port, path, query, tls], the text].
TARN_ROWS(UrlWrite, "net/url.json", "write");
TEST_P(UrlWrite, WritesTextAndTarget) {
    const Json& f = items(row)[0];
    const Url url{
        text_at(f, 0), text_at(f, 1), static_cast<std::uint16_t>(std::stoi(text_at(f, 2))),
        text_at(f, 3), text_at(f, 4), text_at(f, 5) == "true"};
    const std::string text = text_at(row, 1);
    EXPECT_EQ(to_string(url), text);
    // The target is the tail of the text from the path on.
    EXPECT_EQ(request_target(url), text.substr(text.find('/', text.find("//") + 2)));
}

// [base, location, the URL it leads to].
TARN_ROWS(UrlResolve, "net/url.json", "resolve");
TEST_P(UrlResolve, Resolves) {
    EXPECT_EQ(resolve_location(text_at(row, 0), text_at(row, 1)), text_at(row, 2));
}

// [url, environment (names exactly as set), the user's setting (proxy,
// bypass), outcome]: the environment decides first, then the setting;
// outcome: "direct", the proxy as shown and its Proxy-Authorization, or the error.
TARN_ROWS(UrlProxy, "net/url.json", "proxy");
TEST_P(UrlProxy, ChoosesTheProxy) {
    Error error;
    const Url url = Url::parse(text_at(row, 0), error);
    const Json &env = items(row)[1], &system = items(row)[2];
    bool decided = false;
    ProxyServer proxy = proxy_from_environment(
        url,
        [&env](std::string_view name) -> std::optional<std::string> {
            const Json& value = env.find(std::string(name));
            if (value.kind != JsonKind::String) return std::nullopt;
            return std::get<std::string>(value.value);
        },
        decided, error);
    if (!decided && error.ok()) {
        proxy = proxy_from_setting(
            url, {system.get_string("proxy", ""), system.get_string("bypass", ""), false}, error);
    }
    const HeaderMap sent = through_proxy({}, proxy).headers;
    const std::string shown = (proxy.present() ? proxy.shown : "direct") +
                              (sent.empty() ? "" : " " + sent.at("Proxy-Authorization"));
    EXPECT_EQ(error.failed() ? error_text(error) : shown, text_at(row, 3));
}

// The TLS session logic over the scripted engine and an in-memory peer.
// [type, payload, times] messages of the scripted framing, one after another.
std::string messages(const Json& list) {
    std::string out;
    for (const Json& m : items(list)) {
        const std::int64_t times = items(m).size() > 2 ? items(m)[2].integer : 1;
        for (std::int64_t i = 0; i < times; ++i) out += frame(text_at(m, 0)[0], text_at(m, 1));
    }
    return out;
}

Error error_of(const Json& row, const std::string& key) {
    const Json& e = row.find(key);
    if (e.kind == JsonKind::Null) return Error();
    Error error(items(e)[0].integer, text_at(e, 1), text_at(e, 2), text_at(e, 3));
    if (items(e).size() > 4 && text_at(e, 4) == "closed") error.kind = ErrorKind::kClosed;
    return error;
}

// Messages are [type, payload, times] of the scripted framing
// (tests/common/fake_tls_engine.h); errors [code, module, function, message,
// and "closed" for a dropped connection];
// error: as error_text writes it.
// name; flight: the handshake messages before the last; records: what follows
// the handshake; reads: receive sizes (the first ones hold the handshake, 7
// bytes a message); hello: what the peer got during the handshake; inputs:
// what each handshake round was given (\xHH: that byte); end: the error after the
// input; max_message: the engine's record size; capacity: the caller's
// buffer; text: what is read; sent: the answers the peer gets; result: the
// last recv's (default 0), the same when asked again.
TARN_ROWS(TlsRecv, "net/tls_session.json", "recv");
TEST_P(TlsRecv, EndsAsWritten) {
    TlsConnection conn(messages(row.find("flight")) + kDone + messages(row.find("records")));
    std::vector<std::size_t> reads;
    for (const Json& n : items(row.find("reads"))) reads.push_back(n.integer);
    conn.peer.split_at(reads);
    if (error_of(row, "end").failed()) conn.peer.end_with(error_of(row, "end"));
    conn.engine->max_message = row.get_int("max_message", 16384);
    ASSERT_TRUE(conn.session.handshake("h").ok());
    std::int32_t last = 0;
    Error error;
    const std::string hello = conn.peer.sent();
    if (row.find("inputs").kind != JsonKind::Null) {
        std::vector<std::string> inputs;
        for (const Json& s : items(row.find("inputs")))
            inputs.push_back(unescape(std::get<std::string>(s.value)));
        EXPECT_EQ(conn.engine->handshake_inputs, inputs);
        EXPECT_EQ(hello, messages(row.find("hello")));
    }
    EXPECT_EQ(conn.read_all(row.get_int("capacity", 64), last, error), row.get_string("text", ""));
    EXPECT_EQ(conn.peer.sent(), hello + messages(row.find("sent")));
    for (int round = 0; round < 2; ++round) {
        char byte;
        if (round == 1) last = conn.session.recv(&byte, 1, error);
        EXPECT_EQ(last, row.get_int("result", 0));
        EXPECT_EQ(error_text(error), row.get_string("error", ""));
    }
}

// name; input: the server's messages, cut after `cut` bytes; end: the error
// after them; send_failure: every send's; acquire, legacy, verify: the
// engine's results for the current record, the older one and the peer's
// certificate; records: the records asked for ("c" current, "l" older).
TARN_ROWS(TlsHandshake, "net/tls_session.json", "handshake");
TEST_P(TlsHandshake, EndsAsWritten) {
    std::string input = messages(row.find("input"));
    TlsConnection conn(input.substr(0, row.get_int("cut", input.size())));
    if (error_of(row, "end").failed()) conn.peer.end_with(error_of(row, "end"));
    if (error_of(row, "send_failure").failed()) conn.peer.fail_sends(error_of(row, "send_failure"));
    conn.engine->acquire_result = row.get_int("acquire", kOk);
    conn.engine->legacy_result = row.get_int("legacy", kOk);
    conn.engine->verify_result = row.get_int("verify", kOk);
    EXPECT_EQ(error_text(conn.session.handshake("h")), row.get_string("error", ""));
    EXPECT_EQ(conn.engine->records_asked, row.get_string("records", "c"));
    const bool up = row.get_string("error", "") == "0  : ";
    EXPECT_EQ(conn.session.send("x", 1).message, up ? "" : "TLS session is not established");
}

TEST(TlsSessionTest, SendCutsWholeRecordsAndNeedsASession) {
    TlsConnection conn(kDone);
    char byte;
    Error error;
    EXPECT_EQ(conn.session.recv(&byte, 1, error), -1);
    EXPECT_EQ(error.message, "TLS session is not established");

    conn.engine->max_message = 100;
    ASSERT_TRUE(conn.session.handshake("h").ok());
    const std::string hello = conn.peer.sent();
    const std::string data = lcg(250);
    ASSERT_TRUE(conn.session.send(data.data(), data.size()).ok());
    EXPECT_EQ(conn.peer.sent(), hello + frame('D', data.substr(0, 100)) + "TT" +
                                    frame('D', data.substr(100, 100)) + "TT" +
                                    frame('D', data.substr(200)) + "TT");
    conn.engine->encrypt_result = kInvalidToken;
    EXPECT_EQ(error_text(conn.session.send("abc", 3)),
              "2 network TlsSession.send: TLS handshake/record failed: SEC_E_INVALID_TOKEN");
}

}  // namespace
}  // namespace tarncore
