// The session logic over a scripted engine and an in-memory peer: no network,
// no real TLS. The fake engine speaks a toy framing (type byte, 2-byte length,
// payload) so that split, joined and trailing bytes behave as with a real
// package: it consumes one message per call and reports what is left over.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/tls_session.h"
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
    std::int32_t acquire_result = kOk;
    std::int32_t verify_result = kOk;
    std::int32_t encrypt_result = kOk;
    std::uint32_t max_message = 16384;
    bool has_context = false;
    std::vector<std::string> handshake_inputs;
    std::string verified_host;

    std::int32_t acquire_credentials() override { return acquire_result; }

    TlsHandshakeStep handshake_step(std::span<const char> input, std::string_view host) override {
        handshake_inputs.emplace_back(input.data(), input.size());
        if (!has_context) {
            has_context = true;
            return {kContinueNeeded, frame('C', "hello " + std::string(host)), 0};
        }
        std::string type, payload;
        std::size_t used = 0;
        if (!take(input, type, payload, used)) return {kIncompleteMessage, "", 0};
        const std::size_t extra = input.size() - used;
        if (type != "S" || (payload != "next" && payload != "done")) {
            return {kIllegalMessage, "", extra};
        }
        if (payload == "done") return {kOk, "", extra};
        return {kContinueNeeded, frame('C', "ack"), extra};
    }

    std::int32_t stream_sizes(TlsStreamSizes& sizes) override {
        sizes = TlsStreamSizes{3, 2, max_message, 4, 1};
        return kOk;
    }

    std::int32_t encrypt(std::span<char> buffer, std::size_t length, TlsRecordSizes& out) override {
        if (encrypt_result != kOk) return encrypt_result;
        if (buffer.size() != 3 + length + 2) return kInternalError;
        const std::string record = data_rec(std::string(buffer.data() + 3, length)) + "TT";
        record.copy(buffer.data(), record.size());
        out = TlsRecordSizes{3, length, 2};
        return kOk;
    }

    TlsDecrypted decrypt(std::span<char> input) override {
        std::string type, payload;
        std::size_t used = 0;
        if (!take(input, type, payload, used)) return {kIncompleteMessage, "", 0};
        const std::size_t extra = input.size() - used;
        if (type == "D") return {kOk, payload, extra};
        if (type == "R") return {kRenegotiate, "", extra};
        if (type == "Z") return {kContextExpired, "", extra};
        return {kInvalidToken, "", 0};
    }

    std::int32_t verify_peer(std::string_view host) override {
        verified_host = std::string(host);
        return verify_result;
    }

    void release() override { has_context = false; }

private:
    static bool take(std::span<const char> input, std::string& type, std::string& payload,
                     std::size_t& used) {
        if (input.size() < 3) return false;
        const std::size_t length =
            (static_cast<unsigned char>(input[1]) << 8) | static_cast<unsigned char>(input[2]);
        if (input.size() < 3 + length) return false;
        type.assign(1, input[0]);
        payload.assign(input.data() + 3, length);
        used = 3 + length;
        return true;
    }
};

std::unique_ptr<TlsEngine> fake_engine(FakeEngine*& out) {
    auto engine = std::make_unique<FakeEngine>();
    out = engine.get();
    return engine;
}

// A session whose peer sends `input` (as the test splits it).
struct Connection {
    explicit Connection(std::string input)
        : peer(std::move(input)), session(fake_engine(engine), peer) {}

    // Reads until the stream ends; `last` is recv's last return value.
    std::string read_all(std::size_t capacity, std::int32_t& last, Error& error) {
        std::string out;
        std::vector<char> buffer(capacity);
        for (int i = 0; i < 1000; ++i) {
            last = session.recv(buffer.data(), capacity, error);
            if (last <= 0) return out;
            out.append(buffer.data(), static_cast<std::size_t>(last));
        }
        ADD_FAILURE() << "recv never ended";
        return out;
    }

    MemoryTransport peer;
    FakeEngine* engine = nullptr;
    TlsSession session;
};

Error socket_error(const char* function, const char* message) {
    return Error(kErrNetwork, "network", function, message);
}

TEST(TlsSessionTest, SplitAndJoinedFlightsAndTheRecordsAfterThem) {
    const std::string two = kNext + kDone;
    const std::string three = kNext + kNext + kDone;
    const std::string records = data_rec("early") + data_rec(" bird");
    const struct {
        std::string flight;
        std::vector<std::size_t> reads;
        std::vector<std::string> inputs;  // what each handshake round is given
        int acks;
    } cases[] = {
        // Cut inside a header, inside a payload and inside the second message:
        // an incomplete message is kept and appended to, the rest carried over.
        {two,
         {2, 3, 4},
         {"", two.substr(0, 2), two.substr(0, 5), two.substr(0, 9), two.substr(7, 2),
          two.substr(7) + records},
         1},
        // Joined in one read: the next message is handled without reading.
        {three, {}, {"", three + records, three.substr(7) + records, kDone + records}, 2},
    };
    for (const auto& c : cases) {
        Connection conn(c.flight + records);
        conn.peer.split_at(c.reads);
        Error e = conn.session.handshake("example.test");
        ASSERT_TRUE(e.ok()) << e.message;
        EXPECT_EQ(conn.engine->handshake_inputs, c.inputs);
        EXPECT_EQ(conn.engine->verified_host, "example.test");
        std::string tokens = frame('C', "hello example.test");
        for (int i = 0; i < c.acks; ++i) tokens += frame('C', "ack");
        EXPECT_EQ(conn.peer.sent(), tokens);
        // Records that came with the last handshake message are not lost.
        std::int32_t last = 0;
        EXPECT_EQ(conn.read_all(64, last, e), "early bird");
    }
}

TEST(TlsSessionTest, HowRecvEnds) {
    const struct {
        const char* name;
        std::string records;
        std::string text;
        std::vector<std::size_t> reads = {};  // the first includes the handshake's message
        std::size_t capacity = 64;
        Error end = {};  // after the input; ok: end of stream
        std::int32_t result = 0;
        std::string function = "TlsSession.recv";
        std::string message = "TLS peer closed the connection";
    } cases[] = {
        {.name = "split record, small reads",
         .records = data_rec("hello, world") + data_rec("!"),
         .text = "hello, world!",
         .reads = {kDone.size() + 1, 6},
         .capacity = 5},
        {.name = "renegotiation request ignored",
         .records = frame('R', "") + data_rec("still here"),
         .text = "still here"},
        {.name = "close notification",
         .records = data_rec("body") + frame('Z', "") + data_rec("late"),
         .text = "body",
         .function = "",
         .message = ""},
        {.name = "time-out",
         .records = data_rec("body"),
         .text = "body",
         .end = tarntest::recv_timeout_error(),
         .result = -1,
         .function = "Socket.recv",
         .message = "Receive timed out"},
        {.name = "socket says closed",
         .records = data_rec("body"),
         .text = "body",
         .end = socket_error("Socket.recv", "Connection closed abruptly"),
         .function = "Socket.recv",
         .message = "Connection closed abruptly"},
        {.name = "undecryptable",
         .records = frame('X', "garbage"),
         .text = "",
         .result = -1,
         .message = "TLS handshake/record failed: SEC_E_INVALID_TOKEN"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Connection conn(kDone + c.records);
        conn.peer.split_at(c.reads);
        if (c.end.failed()) conn.peer.end_with(c.end);
        ASSERT_TRUE(conn.session.handshake("h").ok());
        std::int32_t last = 0;
        Error error;
        EXPECT_EQ(conn.read_all(c.capacity, last, error), c.text);
        // The end is the same when asked again.
        for (int round = 0; round < 2; ++round) {
            char byte;
            if (round == 1) last = conn.session.recv(&byte, 1, error);
            EXPECT_EQ(last, c.result);
            EXPECT_EQ(error.function, c.function);
            EXPECT_EQ(error.message, c.message);
        }
    }
}

TEST(TlsSessionTest, HandshakeOutcomes) {
    std::string nexts;  // the first round only says hello: 30 more fit in 32
    for (int i = 0; i < 30; ++i) nexts += kNext;
    const struct {
        const char* name;
        std::string input = "";
        std::int32_t acquire = kOk;
        std::int32_t verify = kOk;
        Error end = {};
        Error send_failure = {};
        std::string function = "TlsSession.handshake";
        std::string message = "";  // empty: established
    } cases[] = {
        {.name = "32 rounds", .input = nexts + kDone},
        {.name = "33 rounds",
         .input = nexts + kNext + kDone,
         .message = "TLS handshake exceeded maximum rounds"},
        {.name = "credentials",
         .acquire = static_cast<std::int32_t>(0x8009030Eu),
         .message = "TLS handshake/record failed: Schannel status -2146893042"},
        {.name = "refused flight",
         .input = frame('S', "fail"),
         .message = "TLS handshake/record failed: SEC_E_ILLEGAL_MESSAGE"},
        {.name = "untrusted",
         .input = kDone,
         .verify = kUntrustedRoot,
         .message = "TLS handshake/record failed: SEC_E_UNTRUSTED_ROOT"},
        {.name = "peer closes",
         .input = kNext.substr(0, 4),
         .message = "Peer closed the connection during TLS handshake"},
        {.name = "time-out",
         .end = tarntest::recv_timeout_error(),
         .function = "Socket.recv",
         .message = "Receive timed out"},
        {.name = "token not sent",
         .send_failure = socket_error("Socket.send", "Broken pipe"),
         .function = "Socket.send",
         .message = "Broken pipe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Connection conn(c.input);
        if (c.end.failed()) conn.peer.end_with(c.end);
        if (c.send_failure.failed()) conn.peer.fail_sends(c.send_failure);
        conn.engine->acquire_result = c.acquire;
        conn.engine->verify_result = c.verify;
        Error e = conn.session.handshake("h");
        if (c.message.empty()) {
            EXPECT_TRUE(e.ok()) << e.message;
            EXPECT_TRUE(conn.session.send("x", 1).ok());
            continue;
        }
        EXPECT_EQ(e.code, 2u);
        EXPECT_EQ(e.function, c.function);
        EXPECT_EQ(e.message, c.message);
        EXPECT_EQ(conn.session.send("x", 1).message, "TLS session is not established");
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
    Error e = conn.session.send("abc", 3);
    EXPECT_EQ(e.function, "TlsSession.send");
    EXPECT_EQ(e.message, "TLS handshake/record failed: SEC_E_INVALID_TOKEN");
    conn.session.reset();
    EXPECT_EQ(conn.session.send("x", 1).message, "TLS session is not established");
}

TEST(TlsSessionTest, NewHandshakeStartsClean) {
    // The second handshake must not see the first session's bytes or its close.
    const std::string first = kDone + data_rec("left over") + frame('Z', "") + data_rec("stale");
    Connection conn(first + kDone + data_rec("fresh"));
    conn.peer.split_at({first.size(), kDone.size()});
    ASSERT_TRUE(conn.session.handshake("h").ok());
    std::int32_t last = 0;
    Error error;
    EXPECT_EQ(conn.read_all(64, last, error), "left over");
    ASSERT_TRUE(conn.session.handshake("again.test").ok());
    EXPECT_EQ(conn.read_all(64, last, error), "fresh");
    EXPECT_EQ(error.message, "TLS peer closed the connection");
}

}  // namespace
