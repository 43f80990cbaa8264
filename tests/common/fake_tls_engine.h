// A scripted TLS engine and a session over an in-memory peer, to drive the
// session logic without a network or real TLS. The fake speaks a toy framing
// (type byte, 2-byte length, payload) so that split, joined and trailing
// bytes behave as with a real package: it consumes one message per call and
// reports what is left over. Handshake messages 'S' ("next" asks for another
// round, "done" ends it, anything else is refused); records 'D' data, 'R' a
// post-handshake message that decrypt leaves for the handshake step
// ("ticket" and "update" are taken at once, "update" answered; "renegotiate"
// is answered and wants a further 'S' message), 'Z' close notification,
// anything else does not decrypt. Its own messages are 'C'.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "net/tls_session.h"
#include "tests/common/memory_transport.h"

namespace tarntest {

using namespace tarncore::tls_status;
using tarncore::Error;

inline std::string frame(char type, const std::string& payload) {
    return std::string{type, static_cast<char>(payload.size() >> 8),
                       static_cast<char>(payload.size() & 0xff)} +
           payload;
}

inline const std::string kDone = frame('S', "done");

struct FakeEngine final : tarncore::TlsEngine {
    // acquire_result: the current record's; legacy_result: the older one's.
    std::int32_t acquire_result = kOk, legacy_result = kOk, verify_result = kOk,
                 encrypt_result = kOk;
    std::uint32_t max_message = 16384;
    bool has_context = false;
    std::vector<std::string> handshake_inputs;
    std::string records_asked;  // "c" current, "l" legacy, one letter a call

    std::int32_t acquire_credentials(tarncore::TlsCredentials record) override {
        const bool current = record == tarncore::TlsCredentials::kCurrent;
        records_asked += current ? "c" : "l";
        return current ? acquire_result : legacy_result;
    }
    tarncore::TlsHandshakeStep handshake_step(std::span<const char> input,
                                              std::string_view host) override {
        handshake_inputs.emplace_back(input.data(), input.size());
        if (!has_context) {
            has_context = true;
            return {kContinueNeeded, frame('C', "hello " + std::string(host)), 0};
        }
        std::string type, payload;
        if (!take(input, type, payload)) return {kIncompleteMessage, "", 0};
        const std::size_t extra = input.size() - 3 - payload.size();
        if (type == "R" && (payload == "ticket" || payload == "update")) {
            return {kOk, payload == "update" ? frame('C', "updated") : "", extra};
        }
        if (type == "R" && payload == "renegotiate") {
            return {kContinueNeeded, frame('C', "hello again"), extra};
        }
        if (type != "S" || (payload != "next" && payload != "done")) {
            return {kIllegalMessage, "", extra};
        }
        return {payload == "done" ? kOk : kContinueNeeded,
                payload == "done" ? "" : frame('C', "ack"), extra};
    }
    std::int32_t stream_sizes(tarncore::TlsStreamSizes& sizes) override {
        sizes = tarncore::TlsStreamSizes{3, 2, max_message, 4, 1};
        return kOk;
    }
    std::int32_t encrypt(std::span<char> buffer, std::size_t length,
                         tarncore::TlsRecordSizes& out) override {
        if (encrypt_result != kOk || buffer.size() != 3 + length + 2) return encrypt_result;
        const std::string record = frame('D', std::string(buffer.data() + 3, length)) + "TT";
        record.copy(buffer.data(), record.size());
        out = tarncore::TlsRecordSizes{3, length, 2};
        return kOk;
    }
    tarncore::TlsDecrypted decrypt(std::span<char> input, std::span<char> output) override {
        std::string type, payload;
        if (!take(input, type, payload)) return {kIncompleteMessage, 0, input.size()};
        const std::size_t extra = input.size() - 3 - payload.size();
        if (payload.size() > output.size()) return {kBufferTooSmall, 0, 0};
        if (type == "D") return {kOk, payload.copy(output.data(), payload.size()), extra};
        if (type == "R") return {kRenegotiate, 0, input.size()};
        if (type == "Z") return {kContextExpired, 0, extra};
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
struct TlsConnection {
    explicit TlsConnection(std::string input) : peer(std::move(input)), session(make(), peer) {}
    std::unique_ptr<tarncore::TlsEngine> make() {
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
    tarncore::TlsSession session;
};

}  // namespace tarntest
