// The session logic over a scripted engine and an in-memory peer: no network,
// no real TLS. The fake engine speaks a toy framing (type byte, 2-byte length,
// payload) so that split, joined and trailing bytes behave as with a real
// package: it consumes one message per call and reports what is left over.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "net/tls_session.h"

namespace {

using namespace tarncore;
using namespace tarncore::tls_status;

std::string frame(char type, const std::string& payload) {
    std::string out{type, static_cast<char>(payload.size() >> 8),
                    static_cast<char>(payload.size() & 0xff)};
    return out + payload;
}

// Server messages: handshake 'S' ("next" asks for another round, "done" ends
// it, "fail" is refused), records 'D' data, 'R' renegotiation request,
// 'Z' close notification, 'X' a record that does not decrypt.
std::string next_msg() {
    return frame('S', "next");
}
std::string done_msg() {
    return frame('S', "done");
}
std::string data_rec(const std::string& text) {
    return frame('D', text);
}

struct FakeEngine final : TlsEngine {
    std::vector<std::string>* events = nullptr;
    std::int32_t acquire_result = kOk;
    std::int32_t verify_result = kOk;
    std::int32_t encrypt_result = kOk;
    std::uint32_t max_message = 16384;
    bool has_context = false;
    std::vector<std::string> handshake_inputs;
    std::string verified_host;
    int releases = 0;

    std::int32_t acquire_credentials() override { return acquire_result; }

    TlsHandshakeStep handshake_step(std::span<const char> input, std::string_view host) override {
        TlsHandshakeStep step;
        handshake_inputs.emplace_back(input.data(), input.size());
        if (!has_context) {
            has_context = true;
            step.token = frame('C', "hello " + std::string(host));
            step.status = kContinueNeeded;
            return step;
        }
        std::string type, payload;
        std::size_t used = 0;
        if (!take(input, type, payload, used)) {
            step.status = kIncompleteMessage;
            return step;
        }
        step.extra = input.size() - used;
        if (type != "S" || payload == "fail") {
            step.status = kIllegalMessage;
        } else if (payload == "done") {
            step.status = kOk;
        } else {
            step.token = frame('C', "ack");
            step.status = kContinueNeeded;
        }
        return step;
    }

    std::int32_t stream_sizes(TlsStreamSizes& sizes) override {
        sizes = TlsStreamSizes{3, 2, max_message, 4, 1};
        return kOk;
    }

    std::int32_t encrypt(std::span<char> buffer, std::size_t data_length,
                         TlsRecordSizes& out) override {
        if (events) events->push_back("encrypt");
        if (encrypt_result != kOk) return encrypt_result;
        EXPECT_EQ(buffer.size(), 3 + data_length + 2);
        buffer[0] = 'D';
        buffer[1] = static_cast<char>(data_length >> 8);
        buffer[2] = static_cast<char>(data_length & 0xff);
        buffer[3 + data_length] = 'T';
        buffer[4 + data_length] = 'T';
        out = TlsRecordSizes{3, data_length, 2};
        return kOk;
    }

    TlsDecrypted decrypt(std::span<char> input) override {
        TlsDecrypted result;
        std::string type, payload;
        std::size_t used = 0;
        if (!take(input, type, payload, used)) {
            result.status = kIncompleteMessage;
            return result;
        }
        result.extra = input.size() - used;
        if (type == "D") {
            result.plaintext = payload;
        } else if (type == "R") {
            result.status = kRenegotiate;
        } else if (type == "Z") {
            result.status = kContextExpired;
        } else {
            result.status = kInvalidToken;
            result.extra = 0;
        }
        return result;
    }

    std::int32_t verify_peer(std::string_view host) override {
        verified_host = std::string(host);
        return verify_result;
    }

    void release() override {
        has_context = false;
        ++releases;
    }

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

// The other end of the connection: hands out scripted chunks (one per recv,
// cut to the capacity asked for), then an end of stream or a failure.
struct Peer final : Transport {
    struct Chunk {
        std::string bytes;
        Error failure;  // used when bytes is empty: code 0 means end of stream
    };
    std::deque<Chunk> script;
    std::vector<std::string> sent;
    std::vector<std::string>* events = nullptr;
    std::vector<std::size_t> capacities;
    Error send_failure;

    void deliver(std::string bytes) { script.push_back({std::move(bytes), {}}); }
    void fail(Error e) { script.push_back({{}, std::move(e)}); }

    Error send(const char* data, std::size_t length) override {
        if (events) events->push_back("send");
        if (send_failure.failed()) return send_failure;
        sent.emplace_back(data, length);
        return {};
    }

    std::int32_t recv(char* buffer, std::size_t capacity, Error& error) override {
        error = Error();
        capacities.push_back(capacity);
        if (script.empty()) return 0;
        Chunk& chunk = script.front();
        if (chunk.bytes.empty()) {
            error = chunk.failure;
            script.pop_front();
            return error.failed() ? -1 : 0;
        }
        const std::size_t n = std::min(capacity, chunk.bytes.size());
        chunk.bytes.copy(buffer, n);
        chunk.bytes.erase(0, n);
        if (chunk.bytes.empty()) script.pop_front();
        return static_cast<std::int32_t>(n);
    }

    std::size_t reads() const { return capacities.size(); }
};

Error socket_error(const std::string& message) {
    return Error(kErrNetwork, "network", "Socket.recv", message);
}

class TlsSessionTest : public ::testing::Test {
protected:
    TlsSessionTest() {
        auto owned = std::make_unique<FakeEngine>();
        engine = owned.get();
        engine->events = &events;
        peer.events = &events;
        session = std::make_unique<TlsSession>(std::move(owned), peer);
    }

    // Handshake whose flight is one message; leaves the peer's script empty.
    void establish(const std::string& after_done = {}) {
        peer.deliver(done_msg() + after_done);
        Error e = session->handshake("example.test");
        ASSERT_TRUE(e.ok()) << e.message;
    }

    std::string read_all(std::int32_t capacity, Error& last) {
        std::string out;
        std::vector<char> buffer(static_cast<std::size_t>(capacity));
        for (int i = 0; i < 1000; ++i) {
            const std::int32_t n = session->recv(buffer.data(), buffer.size(), last);
            if (n <= 0) return out;
            out.append(buffer.data(), static_cast<std::size_t>(n));
        }
        ADD_FAILURE() << "recv never ended";
        return out;
    }

    std::vector<std::string> events;
    Peer peer;
    FakeEngine* engine = nullptr;
    std::unique_ptr<TlsSession> session;
};

TEST(TlsStatusName, TableAndFallback) {
    const struct {
        std::uint32_t status;
        const char* name;
    } cases[] = {
        {0x00000000u, "SEC_E_OK"},
        {0x00090312u, "SEC_I_CONTINUE_NEEDED"},
        {0x00090320u, "SEC_I_INCOMPLETE_CREDENTIALS"},
        {0x80090331u, "SEC_E_ALGORITHM_MISMATCH"},
        {0x80090328u, "SEC_E_CERT_EXPIRED"},
        {0x80090308u, "SEC_E_INVALID_TOKEN"},
        {0x80090318u, "SEC_E_INCOMPLETE_MESSAGE"},
        {0x80090322u, "SEC_E_WRONG_PRINCIPAL"},
        {0x80090325u, "SEC_E_UNTRUSTED_ROOT"},
        {0x80090326u, "SEC_E_ILLEGAL_MESSAGE"},
        {0x80090302u, "Schannel status -2146893054"},
        {0x00090317u, "Schannel status 590615"},
        {0x00000001u, "Schannel status 1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(status_name(static_cast<std::int32_t>(c.status)), c.name) << std::hex << c.status;
    }

    Error e = tls_error("TlsSession.recv", static_cast<std::int32_t>(0x80090302u));
    EXPECT_EQ(e.code, 2u);
    EXPECT_EQ(e.module, "network");
    EXPECT_EQ(e.function, "TlsSession.recv");
    EXPECT_EQ(e.message, "TLS handshake/record failed: Schannel status -2146893054");
    EXPECT_EQ(e.traceback, "");
}

TEST_F(TlsSessionTest, SplitServerFlightIsKeptAndAppended) {
    const std::string flight = next_msg() + done_msg();
    // Cut inside the first message's header, inside its payload and inside the second.
    peer.deliver(flight.substr(0, 2));
    peer.deliver(flight.substr(2, 3));
    peer.deliver(flight.substr(5, 4));
    peer.deliver(flight.substr(9));

    Error e = session->handshake("example.test");
    ASSERT_TRUE(e.ok()) << e.message;

    const std::vector<std::string> expected_inputs = {
        "",                   // first round: nothing received yet
        flight.substr(0, 2),  // incomplete: kept ...
        flight.substr(0, 5),  // ... and appended to
        flight.substr(0, 9),  // first message whole, the rest is extra
        flight.substr(7, 2),  // extra carried over, incomplete
        flight.substr(7),     // complete: done
    };
    EXPECT_EQ(engine->handshake_inputs, expected_inputs);
    EXPECT_EQ(peer.sent,
              (std::vector<std::string>{frame('C', "hello example.test"), frame('C', "ack")}));
    EXPECT_EQ(engine->verified_host, "example.test");
    for (std::size_t capacity : peer.capacities) EXPECT_EQ(capacity, 16384u);
}

TEST_F(TlsSessionTest, MessagesJoinedInOneReadNeedNoFurtherRead) {
    peer.deliver(next_msg() + next_msg() + done_msg());
    Error e = session->handshake("example.test");
    ASSERT_TRUE(e.ok()) << e.message;
    EXPECT_EQ(peer.reads(), 1u);
    ASSERT_EQ(engine->handshake_inputs.size(), 4u);
    EXPECT_EQ(engine->handshake_inputs[2], next_msg() + done_msg());
    EXPECT_EQ(engine->handshake_inputs[3], done_msg());
}

TEST_F(TlsSessionTest, DataAfterLastHandshakeMessageIsDecryptedByFirstRecv) {
    establish(data_rec("early") + data_rec(" bird"));
    const std::size_t reads = peer.reads();
    char buffer[64];
    Error error;
    ASSERT_EQ(session->recv(buffer, sizeof(buffer), error), 10);
    EXPECT_EQ(std::string(buffer, 10), "early bird");
    EXPECT_EQ(peer.reads(), reads);  // served without touching the socket
}

TEST_F(TlsSessionTest, IncompleteRecordWaitsForMoreBytesAndSmallReadsDrainPlaintext) {
    establish();
    const std::string record = data_rec("hello, world");
    peer.deliver(record.substr(0, 1));
    peer.deliver(record.substr(1, 6));
    peer.deliver(record.substr(7) + data_rec("!"));

    char buffer[5];
    Error error;
    std::string got;
    ASSERT_EQ(session->recv(buffer, sizeof(buffer), error), 5) << error.message;
    got.append(buffer, 5);
    EXPECT_EQ(peer.reads(), 1u + 3u);
    while (got.size() < 13) {
        const std::int32_t n = session->recv(buffer, sizeof(buffer), error);
        ASSERT_GT(n, 0) << error.message;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(got, "hello, world!");
    EXPECT_EQ(peer.reads(), 1u + 3u);
}

TEST_F(TlsSessionTest, RenegotiationRequestIsLoggedAndIgnored) {
    establish(frame('R', "") + data_rec("still here"));
    testing::internal::CaptureStderr();
    Error last;
    const std::string got = read_all(64, last);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(got, "still here");
    EXPECT_NE(log.find("] [WARN] [tls] Peer requested TLS renegotiation (unsupported)\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(engine->releases, 1);  // only the reset of handshake: no second handshake
}

TEST_F(TlsSessionTest, EndOfStream) {
    const struct {
        const char* name;
        bool close_notify;
        Error failure;  // after the data, when no close notification
        std::int32_t result;
        std::string function;
        std::string message;
    } cases[] = {
        {"close notification", true, {}, 0, "", ""},
        {"TCP close", false, {}, 0, "TlsSession.recv", "TLS peer closed the connection"},
        {"time-out", false, socket_error("Receive timed out"), -1, "Socket.recv",
         "Receive timed out"},
        {"reset", false, socket_error("Connection reset by peer"), -1, "Socket.recv",
         "Connection reset by peer"},
        {"socket word closed", false, socket_error("Connection closed abruptly"), 0, "Socket.recv",
         "Connection closed abruptly"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Peer p;
        auto owned = std::make_unique<FakeEngine>();
        TlsSession s(std::move(owned), p);
        p.deliver(done_msg());
        ASSERT_TRUE(s.handshake("h").ok());
        p.deliver(data_rec("body") + (c.close_notify ? frame('Z', "") + data_rec("late") : ""));
        if (c.failure.failed()) p.fail(c.failure);

        char buffer[64];
        Error error;
        ASSERT_EQ(s.recv(buffer, sizeof(buffer), error), 4);
        EXPECT_EQ(std::string(buffer, 4), "body");
        EXPECT_EQ(s.recv(buffer, sizeof(buffer), error), c.result);
        EXPECT_EQ(error.function, c.function);
        EXPECT_EQ(error.message, c.message);
        if (c.close_notify) {
            const std::size_t reads = p.reads();
            EXPECT_EQ(s.recv(buffer, sizeof(buffer), error), 0);
            EXPECT_TRUE(error.ok());
            EXPECT_EQ(p.reads(), reads);  // stays closed without reading on
        }
    }
}

TEST_F(TlsSessionTest, UndecryptableRecordFailsRecv) {
    establish(frame('X', "garbage"));
    char buffer[16];
    Error error;
    EXPECT_EQ(session->recv(buffer, sizeof(buffer), error), -1);
    EXPECT_EQ(error.function, "TlsSession.recv");
    EXPECT_EQ(error.message, "TLS handshake/record failed: SEC_E_INVALID_TOKEN");
}

TEST_F(TlsSessionTest, SendAndRecvNeedAnEstablishedSession) {
    char buffer[8];
    Error error = Error(9, "stale", "stale", "stale");
    EXPECT_EQ(session->recv(buffer, sizeof(buffer), error), -1);
    EXPECT_EQ(error.function, "TlsSession.recv");
    EXPECT_EQ(error.message, "TLS session is not established");
    Error sent = session->send("x", 1);
    EXPECT_EQ(sent.function, "TlsSession.send");
    EXPECT_EQ(sent.message, "TLS session is not established");
    EXPECT_EQ(sent.code, 2u);

    // A handshake that failed leaves it so; a reset after success does too.
    peer.deliver(frame('S', "fail"));
    EXPECT_TRUE(session->handshake("h").failed());
    EXPECT_EQ(session->send("x", 1).message, "TLS session is not established");
    establish();
    session->reset();
    EXPECT_EQ(session->send("x", 1).message, "TLS session is not established");
    EXPECT_EQ(peer.sent.size(), 2u);  // the hellos of the two handshakes, nothing else
}

TEST_F(TlsSessionTest, LargeSendGoesOutAsWholeRecordsOneAtATime) {
    engine->max_message = 100;
    establish();
    peer.sent.clear();
    events.clear();

    std::string data(250, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
    ASSERT_TRUE(session->send(data.data(), data.size()).ok());

    EXPECT_EQ(events,
              (std::vector<std::string>{"encrypt", "send", "encrypt", "send", "encrypt", "send"}));
    ASSERT_EQ(peer.sent.size(), 3u);
    std::size_t offset = 0;
    for (const std::string& record : peer.sent) {
        const std::size_t length = std::min<std::size_t>(100, data.size() - offset);
        EXPECT_EQ(record, data_rec(data.substr(offset, length)) + "TT");
        offset += length;
    }

    EXPECT_TRUE(session->send(data.data(), 0).ok());
    EXPECT_EQ(peer.sent.size(), 3u);
}

TEST_F(TlsSessionTest, SendFailures) {
    establish();
    engine->encrypt_result = kInvalidToken;
    Error e = session->send("abc", 3);
    EXPECT_EQ(e.function, "TlsSession.send");
    EXPECT_EQ(e.message, "TLS handshake/record failed: SEC_E_INVALID_TOKEN");

    engine->encrypt_result = kOk;
    peer.send_failure = Error(2, "network", "Socket.send", "Connection closed while sending");
    e = session->send("abc", 3);
    EXPECT_EQ(e.function, "Socket.send");
    EXPECT_EQ(e.message, "Connection closed while sending");
}

TEST_F(TlsSessionTest, HandshakeGivesUpAfter32Rounds) {
    std::string flight;
    for (int i = 0; i < 40; ++i) flight += next_msg();
    peer.deliver(flight);
    Error e = session->handshake("h");
    EXPECT_EQ(e.function, "TlsSession.handshake");
    EXPECT_EQ(e.message, "TLS handshake exceeded maximum rounds");
    EXPECT_EQ(engine->handshake_inputs.size(), 32u);
}

TEST_F(TlsSessionTest, HandshakeFailures) {
    const struct {
        const char* name;
        std::int32_t acquire;
        std::int32_t verify;
        std::vector<Peer::Chunk> script;
        Error send_failure;
        std::string function;
        std::string message;
    } cases[] = {
        {"credentials",
         static_cast<std::int32_t>(0x8009030Eu),
         kOk,
         {},
         {},
         "TlsSession.handshake",
         "TLS handshake/record failed: Schannel status -2146893042"},
        {"refused flight",
         kOk,
         kOk,
         {{frame('S', "fail"), {}}},
         {},
         "TlsSession.handshake",
         "TLS handshake/record failed: SEC_E_ILLEGAL_MESSAGE"},
        {"untrusted",
         kOk,
         kUntrustedRoot,
         {{done_msg(), {}}},
         {},
         "TlsSession.handshake",
         "TLS handshake/record failed: SEC_E_UNTRUSTED_ROOT"},
        {"wrong host",
         kOk,
         kWrongPrincipal,
         {{done_msg(), {}}},
         {},
         "TlsSession.handshake",
         "TLS handshake/record failed: SEC_E_WRONG_PRINCIPAL"},
        {"peer closes",
         kOk,
         kOk,
         {{next_msg().substr(0, 4), {}}},
         {},
         "TlsSession.handshake",
         "Peer closed the connection during TLS handshake"},
        {"time-out",
         kOk,
         kOk,
         {{"", socket_error("Receive timed out")}},
         {},
         "Socket.recv",
         "Receive timed out"},
        {"token not sent",
         kOk,
         kOk,
         {},
         Error(2, "network", "Socket.send", "Broken pipe"),
         "Socket.send",
         "Broken pipe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Peer p;
        p.script.assign(c.script.begin(), c.script.end());
        p.send_failure = c.send_failure;
        auto owned = std::make_unique<FakeEngine>();
        owned->acquire_result = c.acquire;
        owned->verify_result = c.verify;
        TlsSession s(std::move(owned), p);
        Error e = s.handshake("h");
        EXPECT_EQ(e.code, 2u);
        EXPECT_EQ(e.function, c.function);
        EXPECT_EQ(e.message, c.message);
        EXPECT_TRUE(s.send("x", 1).failed());
    }
}

TEST_F(TlsSessionTest, NewHandshakeStartsClean) {
    establish(data_rec("left over") + frame('Z', ""));
    // The second handshake must not see the first session's bytes or its close.
    peer.deliver(done_msg());
    ASSERT_TRUE(session->handshake("again.test").ok());
    peer.deliver(data_rec("fresh"));
    Error last;
    EXPECT_EQ(read_all(64, last), "fresh");
    EXPECT_EQ(last.message, "TLS peer closed the connection");
    EXPECT_EQ(engine->handshake_inputs[engine->handshake_inputs.size() - 2], "");
}

}  // namespace
