// The session logic over a scripted engine and an in-memory peer: no network,
// no real TLS. The fake engine speaks a toy framing (type byte, 2-byte length,
// payload) so that split, joined and trailing bytes behave as with a real
// package: it consumes one message per call and reports what is left over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/tls_session.h"
#include "tests/common/error_text.h"
#include "tests/common/memory_transport.h"

namespace {

using namespace tarncore;
using namespace tarncore::tls_status;
using tarntest::MemoryTransport;

std::string frame(char type, const std::string& payload) {
    return std::string{type, static_cast<char>(payload.size() >> 8),
                       static_cast<char>(payload.size() & 0xff)} +
           payload;
}

// Server messages: handshake 'S' ("next" asks for another round, "done" ends
// it, anything else is refused); records 'D' data, 'R' renegotiation request,
// 'Z' close notification, anything else does not decrypt.
const std::string kNext = frame('S', "next");
const std::string kDone = frame('S', "done");
std::string data_rec(const std::string& text) {
    return frame('D', text);
}

struct FakeEngine final : TlsEngine {
    std::int32_t acquire_result = kOk, verify_result = kOk, encrypt_result = kOk;
    std::uint32_t max_message = 16384;
    bool has_context = false;
    std::vector<std::string> handshake_inputs;

    std::int32_t acquire_credentials() override { return acquire_result; }
    TlsHandshakeStep handshake_step(std::span<const char> input, std::string_view host) override {
        handshake_inputs.emplace_back(input.data(), input.size());
        if (!has_context) {
            has_context = true;
            return {kContinueNeeded, frame('C', "hello " + std::string(host)), 0};
        }
        std::string type, payload;
        if (!take(input, type, payload)) return {kIncompleteMessage, "", 0};
        const std::size_t extra = input.size() - 3 - payload.size();
        if (type != "S" || (payload != "next" && payload != "done")) {
            return {kIllegalMessage, "", extra};
        }
        return {payload == "done" ? kOk : kContinueNeeded,
                payload == "done" ? "" : frame('C', "ack"), extra};
    }
    std::int32_t stream_sizes(TlsStreamSizes& sizes) override {
        sizes = TlsStreamSizes{3, 2, max_message, 4, 1};
        return kOk;
    }
    std::int32_t encrypt(std::span<char> buffer, std::size_t length, TlsRecordSizes& out) override {
        if (encrypt_result != kOk || buffer.size() != 3 + length + 2) return encrypt_result;
        const std::string record = data_rec(std::string(buffer.data() + 3, length)) + "TT";
        record.copy(buffer.data(), record.size());
        out = TlsRecordSizes{3, length, 2};
        return kOk;
    }
    TlsDecrypted decrypt(std::span<char> input, std::span<char> output) override {
        std::string type, payload;
        if (!take(input, type, payload)) return {kIncompleteMessage, 0, input.size()};
        const std::size_t extra = input.size() - 3 - payload.size();
        if (payload.size() > output.size()) return {kBufferTooSmall, 0, 0};
        if (type == "D") return {kOk, payload.copy(output.data(), payload.size()), extra};
        if (type == "R" || type == "Z")
            return {type == "R" ? kRenegotiate : kContextExpired, 0, extra};
        return {kInvalidToken, 0, 0};
    }
    std::int32_t verify_peer(std::string_view) override { return verify_result; }
    void release() override { has_context = false; }

    static bool take(std::span<const char> input, std::string& type, std::string& payload) {
        if (input.size() < 3) return false;
        const std::size_t length =
            (static_cast<unsigned char>(input[1]) << 8) | static_cast<unsigned char>(input[2]);
        if (input.size() < 3 + length) return false;
        type.assign(1, input[0]);
        payload.assign(input.data() + 3, length);
        return true;
    }
};

// A session whose peer sends `input` (as the test splits it).
struct Connection {
    explicit Connection(std::string input) : peer(std::move(input)), session(make(), peer) {}
    std::unique_ptr<TlsEngine> make() {
        auto fake = std::make_unique<FakeEngine>();
        engine = fake.get();
        return fake;
    }
    // Reads until the stream ends; `last` is recv's last return value.
    std::string read_all(std::size_t capacity, std::int32_t& last, Error& error) {
        std::string out;
        std::vector<char> buffer(capacity);
        for (int i = 0; i < 1000 && (last = session.recv(buffer.data(), capacity, error)) > 0;
             ++i) {
            out.append(buffer.data(), static_cast<std::size_t>(last));
        }
        return out;
    }
    MemoryTransport peer;
    FakeEngine* engine = nullptr;
    TlsSession session;
};

TEST(TlsSessionTest, SplitAndJoinedFlightsAndTheRecordsAfterThem) {
    const std::string two = kNext + kDone, three = kNext + kNext + kDone;
    const std::string records = data_rec("early") + data_rec(" bird");
    const struct {
        std::string flight;
        std::vector<std::size_t> reads;
        std::vector<std::string> inputs;  // what each handshake round is given
    } cases[] = {
        // Cut inside a header, inside a payload and inside the second message:
        // an incomplete message is kept and appended to, the rest carried over.
        {two,
         {2, 3, 4},
         {"", two.substr(0, 2), two.substr(0, 5), two.substr(0, 9), two.substr(7, 2),
          two.substr(7) + records}},
        // Joined in one read: the next message is handled without reading.
        {three, {}, {"", three + records, three.substr(7) + records, kDone + records}},
    };
    for (const auto& c : cases) {
        Connection conn(c.flight + records);
        conn.peer.split_at(c.reads);
        Error e = conn.session.handshake("example.test");
        ASSERT_TRUE(e.ok()) << e.message;
        EXPECT_EQ(conn.engine->handshake_inputs, c.inputs);
        EXPECT_TRUE(
            conn.peer.sent().starts_with(frame('C', "hello example.test") + frame('C', "ack")));
        // Records that came with the last handshake message are not lost.
        std::int32_t last = 0;
        EXPECT_EQ(conn.read_all(64, last, e), "early bird");
    }
}

TEST(TlsSessionTest, HowRecvEnds) {
    const Error closed(2, "network", "TlsSession.recv", "TLS peer closed the connection");
    const struct {
        const char* name;
        std::string records;
        std::string text;
        std::vector<std::size_t> reads = {};  // the first includes the handshake's message
        std::size_t capacity = 64;
        std::uint32_t max_message = 16384;  // up to it, through the session's own buffer
        Error end = {};                     // after the input; none: end of stream
        std::int32_t result = 0;
        Error error = Error(2, "network", "TlsSession.recv", "TLS peer closed the connection");
    } cases[] = {
        {.name = "split record, small reads",
         .records = data_rec("hello, world") + data_rec("!"),
         .text = "hello, world!",
         .reads = {kDone.size() + 1, 6},
         .capacity = 5},
        {.name = "many records per receive, straight into the caller's buffer",
         .records = data_rec("abc") + data_rec("defgh") + data_rec("ij"),
         .text = "abcdefghij",
         .max_message = 8},
        {.name = "renegotiation request ignored",
         .records = frame('R', "") + data_rec("still here"),
         .text = "still here"},
        {.name = "close notification",
         .records = data_rec("body") + frame('Z', "") + data_rec("late"),
         .text = "body",
         .error = {}},
        {.name = "time-out",
         .records = data_rec("body"),
         .text = "body",
         .end = tarntest::recv_timeout_error(),
         .result = -1,
         .error = tarntest::recv_timeout_error()},
        {.name = "socket says closed",
         .records = data_rec("body"),
         .text = "body",
         .end = Error(2, "network", "Socket.recv", "Connection closed abruptly"),
         .error = Error(2, "network", "Socket.recv", "Connection closed abruptly")},
        {.name = "undecryptable",
         .records = frame('X', "garbage"),
         .text = "",
         .result = -1,
         .error = tls_error("TlsSession.recv", kInvalidToken)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Connection conn(kDone + c.records);
        conn.peer.split_at(c.reads);
        if (c.end.failed()) conn.peer.end_with(c.end);
        conn.engine->max_message = c.max_message;
        ASSERT_TRUE(conn.session.handshake("h").ok());
        std::int32_t last = 0;
        Error error;
        EXPECT_EQ(conn.read_all(c.capacity, last, error), c.text);
        // The end is the same when asked again.
        for (int round = 0; round < 2; ++round) {
            char byte;
            if (round == 1) last = conn.session.recv(&byte, 1, error);
            EXPECT_EQ(last, c.result);
            EXPECT_EQ(error.function + error.message, c.error.function + c.error.message);
        }
    }
}

TEST(TlsSessionTest, HandshakeOutcomes) {
    std::string nexts;  // the first round only says hello: 30 more fit in 32
    for (int i = 0; i < 30; ++i) nexts += kNext;
    const Error socket_send(2, "network", "Socket.send", "Broken pipe");
    auto failed = [](const char* message) {
        return Error(2, "network", "TlsSession.handshake", message);
    };
    const struct {
        std::string input;
        Error expected;  // none: established
        std::int32_t acquire = kOk, verify = kOk;
        Error end = {}, send_failure = {};
    } cases[] = {
        {nexts + kDone, {}},
        {nexts + kNext + kDone, failed("TLS handshake exceeded maximum rounds")},
        {"", tls_error("TlsSession.handshake", static_cast<std::int32_t>(0x8009030Eu)),
         static_cast<std::int32_t>(0x8009030Eu)},
        {frame('S', "fail"), tls_error("TlsSession.handshake", kIllegalMessage)},
        {kDone, tls_error("TlsSession.handshake", kUntrustedRoot), kOk, kUntrustedRoot},
        {kNext.substr(0, 4), failed("Peer closed the connection during TLS handshake")},
        {"", tarntest::recv_timeout_error(), kOk, kOk, tarntest::recv_timeout_error()},
        {"", socket_send, kOk, kOk, {}, socket_send},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.message);
        Connection conn(c.input);
        if (c.end.failed()) conn.peer.end_with(c.end);
        if (c.send_failure.failed()) conn.peer.fail_sends(c.send_failure);
        conn.engine->acquire_result = c.acquire;
        conn.engine->verify_result = c.verify;
        Error e = conn.session.handshake("h");
        EXPECT_EQ(tarntest::error_text(e), tarntest::error_text(c.expected));
        EXPECT_EQ(conn.session.send("x", 1).message,
                  c.expected.failed() ? "TLS session is not established" : "");
    }
}

TEST(TlsSessionTest, SendCutsWholeRecordsAndNeedsASession) {
    Connection conn(kDone);
    char byte;
    Error error;
    EXPECT_EQ(conn.session.recv(&byte, 1, error), -1);
    EXPECT_EQ(error.message, "TLS session is not established");

    conn.engine->max_message = 100;
    ASSERT_TRUE(conn.session.handshake("h").ok());
    const std::string hello = conn.peer.sent();
    std::string data(250, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
    ASSERT_TRUE(conn.session.send(data.data(), data.size()).ok());
    EXPECT_EQ(conn.peer.sent(), hello + data_rec(data.substr(0, 100)) + "TT" +
                                    data_rec(data.substr(100, 100)) + "TT" +
                                    data_rec(data.substr(200)) + "TT");
    conn.engine->encrypt_result = kInvalidToken;
    EXPECT_EQ(conn.session.send("abc", 3).message,
              tls_error("TlsSession.send", kInvalidToken).message);
}

}  // namespace
