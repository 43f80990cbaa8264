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
// Records are read in large pieces: fewer calls (each a round trip to the
// Wine server on that platform) and many records decrypted per call.
constexpr std::size_t kRecordReadSize = std::size_t{1} << 18;

Error session_error(std::string_view label, std::string message) {
    return Error(kErrNetwork, "network", std::string(label), std::move(message));
}

Error closed_error(std::string_view label, std::string message) {
    Error error = session_error(label, std::move(message));
    error.kind = ErrorKind::kClosed;
    return error;
}

Error not_established(std::string_view label) {
    return session_error(label, "TLS session is not established");
}

}  // namespace

std::string status_name(std::int32_t status) {
    for (const tls_status::Name& name : tls_status::kNames) {
        if (name.status == status) return name.text;
    }
    return "Schannel status " + std::to_string(status);
}

Error tls_error(std::string_view label, std::int32_t status) {
    Error error = session_error(label, "TLS handshake/record failed: " + status_name(status));
    namespace ts = tls_status;
    if (status == ts::kUntrustedRoot || status == ts::kCertExpired ||
        status == ts::kWrongPrincipal || status == ts::kCertUnknown) {
        error.kind = ErrorKind::kUntrusted;
    }
    return error;
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

    std::int32_t status = engine_->acquire_credentials(TlsCredentials::kCurrent);
    if (status != tls_status::kOk) {
        Logger::instance().debug("tls", "Credential record for TLS 1.3 refused (" +
                                            status_name(status) + "); using the older one");
        status = engine_->acquire_credentials(TlsCredentials::kLegacy);
    }
    if (status != tls_status::kOk) return tls_error(kLabel, status);

    std::string in;
    TARN_TRY(run_rounds(in, host, kLabel, true));
    // Bytes after the server's last handshake message start the record stream.
    incoming_.assign(in.begin(), in.end());
    incoming_begin_ = 0;
    incoming_end_ = in.size();
    status = engine_->verify_peer(host);
    if (status != tls_status::kOk) return tls_error(kLabel, status);
    status = engine_->stream_sizes(sizes_);
    if (status != tls_status::kOk) return tls_error(kLabel, status);
    established_ = true;
    host_.assign(host);
    Logger::instance().debug("tls", "Handshake complete with " + std::string(host));
    return {};
}

Error TlsSession::run_rounds(std::string& in, std::string_view host, std::string_view label,
                             bool first) {
    std::array<char, kReadSize> chunk;
    // Without a first round there is nothing to give the package until bytes arrive.
    bool need_bytes = !first && in.empty();
    for (int round = 0; round < kMaxHandshakeRounds; ++round) {
        if (need_bytes) {
            Error recv_error;
            const std::int32_t n = io_->recv(chunk.data(), chunk.size(), recv_error);
            if (n < 0) return recv_error;
            if (n == 0) {
                return closed_error(label, "Peer closed the connection during TLS handshake");
            }
            in.append(chunk.data(), static_cast<std::size_t>(n));
        }
        TlsHandshakeStep step = engine_->handshake_step(in, host);
        if (!step.token.empty()) TARN_TRY(io_->send(step.token.data(), step.token.size()));
        const std::size_t extra = std::min(step.extra, in.size());

        if (step.status == tls_status::kOk) {
            in.erase(0, in.size() - extra);
            return {};
        }
        if (step.status != tls_status::kContinueNeeded &&
            step.status != tls_status::kIncompleteMessage) {
            return tls_error(label, step.status);
        }
        need_bytes = extra == 0;
        if (extra > 0) {
            // The next message is already here: no read this round.
            in.erase(0, in.size() - extra);
        } else if (step.status == tls_status::kContinueNeeded) {
            in.clear();
        }
    }
    return session_error(label, "TLS handshake exceeded maximum rounds");
}

Error TlsSession::post_handshake() {
    // What decrypt left unread goes to the handshake step as it is; what that
    // leaves unread again is records.
    std::string in(incoming_.data() + incoming_begin_, incoming_end_ - incoming_begin_);
    const std::string given = in;
    TARN_TRY(run_rounds(in, host_, "TlsSession.recv", false));
    // A package that takes nothing would be asked the same forever.
    if (!given.empty() && in == given)
        return tls_error("TlsSession.recv", tls_status::kIllegalMessage);
    incoming_.assign(in.begin(), in.end());
    incoming_begin_ = 0;
    incoming_end_ = in.size();
    const std::int32_t status = engine_->stream_sizes(sizes_);
    if (status != tls_status::kOk) return tls_error("TlsSession.recv", status);
    Logger::instance().debug("tls", "Post-handshake message from " + host_ + " handled");
    return {};
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

std::int64_t TlsSession::decrypt_available(std::span<char> out, Error& error) {
    std::size_t written = 0;
    // Whole records only: stop once the room left might not hold one.
    while (written == 0 || (written < out.size() && out.size() - written >= sizes_.max_message)) {
        const std::size_t held = incoming_end_ - incoming_begin_;
        std::span<char> input(incoming_.data() + incoming_begin_, held);
        TlsDecrypted result = engine_->decrypt(input, out.subspan(written));
        if (result.status == tls_status::kIncompleteMessage) {
            incoming_begin_ += held - std::min(result.extra, held);
            break;
        }
        if (result.status != tls_status::kOk && result.status != tls_status::kRenegotiate &&
            result.status != tls_status::kContextExpired) {
            error = tls_error("TlsSession.recv", result.status);
            return -1;
        }
        written += std::min(result.written, out.size() - written);
        incoming_begin_ += held - std::min(result.extra, held);
        if (result.status == tls_status::kContextExpired) {
            peer_closed_ = true;
            incoming_begin_ = incoming_end_ = 0;
            break;
        }
        if (result.status == tls_status::kRenegotiate) {
            // Session tickets and key updates of TLS 1.3 (and a 1.2
            // renegotiation) are the package's to take before records go on.
            error = post_handshake();
            if (error.failed()) return -1;
            continue;
        }
        // An engine that took nothing and gave nothing waits for more bytes.
        if (result.written == 0 && result.extra >= held) break;
    }
    return static_cast<std::int64_t>(written);
}

std::int32_t TlsSession::recv(char* buffer, std::size_t capacity, Error& error) {
    constexpr std::string_view kLabel = "TlsSession.recv";
    error = Error();
    if (!established_) {
        error = not_established(kLabel);
        return -1;
    }
    capacity = std::min<std::size_t>(capacity, INT32_MAX);
    const std::size_t record = std::max<std::size_t>(sizes_.max_message, 1);
    for (;;) {
        if (plaintext_.size() > read_offset_) {
            const std::size_t unread = plaintext_.size() - static_cast<std::size_t>(read_offset_);
            const std::size_t count = std::min(capacity, unread);
            std::memcpy(buffer, plaintext_.data() + read_offset_, count);
            read_offset_ += count;
            if (read_offset_ == plaintext_.size()) {
                plaintext_.clear();
                read_offset_ = 0;
            }
            return static_cast<std::int32_t>(count);
        }
        // A buffer that holds a whole record gets the plaintext directly.
        const bool direct = capacity >= record;
        if (!direct) plaintext_.resize(record);
        read_offset_ = 0;
        const std::int64_t n = decrypt_available(
            direct ? std::span<char>(buffer, capacity) : std::span<char>(plaintext_), error);
        if (!direct) plaintext_.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        if (n < 0) return -1;
        if (n > 0) {
            if (direct) return static_cast<std::int32_t>(n);
            continue;
        }
        if (peer_closed_) return 0;

        // Keep what is left of a record at the front, then read behind it.
        if (incoming_begin_ > 0) {
            std::memmove(incoming_.data(), incoming_.data() + incoming_begin_,
                         incoming_end_ - incoming_begin_);
            incoming_end_ -= incoming_begin_;
            incoming_begin_ = 0;
        }
        if (incoming_.size() < incoming_end_ + kRecordReadSize) {
            incoming_.resize(incoming_end_ + kRecordReadSize);
        }
        Error recv_error;
        const std::int32_t got =
            io_->recv(incoming_.data() + incoming_end_, kRecordReadSize, recv_error);
        if (got == 0) recv_error = closed_error(kLabel, "TLS peer closed the connection");
        if (got <= 0) {
            // A drop without close notification ends the stream like an orderly
            // close; error still tells the caller which it was.
            error = std::move(recv_error);
            return error.kind == ErrorKind::kClosed ? 0 : -1;
        }
        incoming_end_ += static_cast<std::size_t>(got);
    }
}

void TlsSession::set_receive_timeout(std::uint32_t timeout_ms) {
    io_->set_receive_timeout(timeout_ms);
}

void TlsSession::reset() {
    engine_->release();
    incoming_.clear();
    incoming_begin_ = incoming_end_ = 0;
    plaintext_.clear();
    read_offset_ = 0;
    established_ = false;
}

void TlsSession::close() {
    reset();
    socket_.close();
}

}  // namespace tarncore
