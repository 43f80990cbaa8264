#include "net/tls_session.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "support/logger.h"

namespace tarncore {

namespace {

constexpr int kMaxHandshakeRounds = 32;
constexpr std::size_t kReadSize = 16384;

Error session_error(std::string_view label, std::string message) {
    return Error(kErrNetwork, "network", std::string(label), std::move(message));
}

Error not_established(std::string_view label) {
    return session_error(label, "TLS session is not established");
}

}  // namespace

std::string status_name(std::int32_t status) {
    switch (static_cast<std::uint32_t>(status)) {
        case 0x00000000u: return "SEC_E_OK";
        case 0x00090312u: return "SEC_I_CONTINUE_NEEDED";
        case 0x00090320u: return "SEC_I_INCOMPLETE_CREDENTIALS";
        case 0x80090331u: return "SEC_E_ALGORITHM_MISMATCH";
        case 0x80090328u: return "SEC_E_CERT_EXPIRED";
        case 0x80090308u: return "SEC_E_INVALID_TOKEN";
        case 0x80090318u: return "SEC_E_INCOMPLETE_MESSAGE";
        case 0x80090322u: return "SEC_E_WRONG_PRINCIPAL";
        case 0x80090325u: return "SEC_E_UNTRUSTED_ROOT";
        case 0x80090326u: return "SEC_E_ILLEGAL_MESSAGE";
        default: return "Schannel status " + std::to_string(status);
    }
}

Error tls_error(std::string_view label, std::int32_t status) {
    return session_error(label, "TLS handshake/record failed: " + status_name(status));
}

TlsSession::TlsSession() : TlsSession(make_platform_tls_engine()) {}

TlsSession::TlsSession(std::unique_ptr<TlsEngine> engine)
    : engine_(std::move(engine)), io_(&socket_) {}

TlsSession::TlsSession(std::unique_ptr<TlsEngine> engine, Transport& io)
    : engine_(std::move(engine)), io_(&io) {}

TlsSession::~TlsSession() {
    reset();
}

Error TlsSession::connect(std::string_view host, std::uint16_t port, std::uint32_t timeout_ms,
                          int family) {
    reset();
    socket_.close();
    TARN_TRY(socket_.connect(host, port, timeout_ms, family));
    Error error = handshake(host);
    if (error.failed()) {
        reset();
        socket_.close();
    }
    return error;
}

Error TlsSession::handshake(std::string_view host) {
    constexpr std::string_view kLabel = "TlsSession.handshake";
    reset();
    peer_closed_ = false;

    std::int32_t status = engine_->acquire_credentials();
    if (status != tls_status::kOk) return tls_error(kLabel, status);

    std::string in;
    std::array<char, kReadSize> chunk;
    for (int round = 0; round < kMaxHandshakeRounds; ++round) {
        TlsHandshakeStep step = engine_->handshake_step(in, host);
        if (!step.token.empty()) TARN_TRY(io_->send(step.token.data(), step.token.size()));
        const std::size_t extra = std::min(step.extra, in.size());

        if (step.status == tls_status::kOk) {
            // Bytes after the server's last handshake message start the record stream.
            incoming_.assign(in, in.size() - extra, extra);
            status = engine_->verify_peer(host);
            if (status != tls_status::kOk) return tls_error(kLabel, status);
            status = engine_->stream_sizes(sizes_);
            if (status != tls_status::kOk) return tls_error(kLabel, status);
            established_ = true;
            Logger::instance().debug("tls", "Handshake complete with " + std::string(host));
            return {};
        }
        if (step.status != tls_status::kContinueNeeded &&
            step.status != tls_status::kIncompleteMessage) {
            return tls_error(kLabel, step.status);
        }
        if (extra > 0) {
            // The next message is already here: no read this round.
            in.erase(0, in.size() - extra);
            continue;
        }
        if (step.status == tls_status::kContinueNeeded) in.clear();
        Error recv_error;
        const std::int32_t n = io_->recv(chunk.data(), chunk.size(), recv_error);
        if (n < 0) return recv_error;
        if (n == 0) return session_error(kLabel, "Peer closed the connection during TLS handshake");
        in.append(chunk.data(), static_cast<std::size_t>(n));
    }
    return session_error(kLabel, "TLS handshake exceeded maximum rounds");
}

Error TlsSession::send(const char* data, std::size_t length) {
    constexpr std::string_view kLabel = "TlsSession.send";
    if (!established_) return not_established(kLabel);
    if (length == 0) return {};

    const std::size_t max_piece = sizes_.max_message > 0 ? sizes_.max_message : length;
    std::string record;
    for (std::size_t offset = 0; offset < length;) {
        const std::size_t piece = std::min(max_piece, length - offset);
        record.assign(sizes_.header + piece + sizes_.trailer, '\0');
        std::memcpy(record.data() + sizes_.header, data + offset, piece);
        TlsRecordSizes out;
        const std::int32_t status = engine_->encrypt(record, piece, out);
        if (status != tls_status::kOk) return tls_error(kLabel, status);
        const std::size_t total = std::min(out.header + out.data + out.trailer, record.size());
        TARN_TRY(io_->send(record.data(), total));
        offset += piece;
    }
    return {};
}

Error TlsSession::decrypt_available() {
    while (!incoming_.empty()) {
        TlsDecrypted result = engine_->decrypt(incoming_);
        if (result.status == tls_status::kIncompleteMessage) return {};
        if (result.status != tls_status::kOk && result.status != tls_status::kRenegotiate &&
            result.status != tls_status::kContextExpired) {
            return tls_error("TlsSession.recv", result.status);
        }
        plaintext_ += result.plaintext;
        const std::size_t before = incoming_.size();
        const std::size_t extra = std::min(result.extra, before);
        incoming_.erase(0, before - extra);
        if (result.status == tls_status::kContextExpired) {
            peer_closed_ = true;
            incoming_.clear();
            return {};
        }
        if (result.status == tls_status::kRenegotiate) {
            Logger::instance().warn("tls", "Peer requested TLS renegotiation (unsupported)");
        }
        // An engine that consumed nothing would spin here; wait for more bytes instead.
        if (extra == before && result.plaintext.empty()) return {};
    }
    return {};
}

std::int32_t TlsSession::recv(char* buffer, std::size_t capacity, Error& error) {
    constexpr std::string_view kLabel = "TlsSession.recv";
    error = Error();
    if (!established_) {
        error = not_established(kLabel);
        return -1;
    }
    std::array<char, kReadSize> chunk;
    for (;;) {
        if (plaintext_.size() > read_offset_) {
            const std::size_t unread = plaintext_.size() - static_cast<std::size_t>(read_offset_);
            const std::size_t count = std::min({capacity, unread, std::size_t{INT32_MAX}});
            std::memcpy(buffer, plaintext_.data() + read_offset_, count);
            read_offset_ += count;
            if (read_offset_ == plaintext_.size()) {
                plaintext_.clear();
                read_offset_ = 0;
            }
            return static_cast<std::int32_t>(count);
        }
        plaintext_.clear();
        read_offset_ = 0;
        if (Error failure = decrypt_available(); failure.failed()) {
            error = std::move(failure);
            return -1;
        }
        if (!plaintext_.empty()) continue;
        if (peer_closed_) return 0;

        Error recv_error;
        const std::int32_t n = io_->recv(chunk.data(), chunk.size(), recv_error);
        if (n == 0) recv_error = session_error(kLabel, "TLS peer closed the connection");
        if (n <= 0) {
            // A drop without close notification ends the stream like an orderly
            // close; error still tells the caller which it was.
            error = std::move(recv_error);
            return error.message.find("closed") != std::string::npos ? 0 : -1;
        }
        incoming_.append(chunk.data(), static_cast<std::size_t>(n));
        if (Error failure = decrypt_available(); failure.failed()) {
            error = std::move(failure);
            return -1;
        }
    }
}

void TlsSession::set_receive_timeout(std::uint32_t timeout_ms) {
    socket_.set_receive_timeout(timeout_ms);
}

void TlsSession::reset() {
    engine_->release();
    incoming_.clear();
    plaintext_.clear();
    read_offset_ = 0;
    established_ = false;
}

void TlsSession::close() {
    reset();
    socket_.close();
}

}  // namespace tarncore
