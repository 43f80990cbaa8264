// HTTPS byte stream: one Socket plus the platform TLS engine, with the same two
// operations as the socket so the HTTP codec runs unchanged over it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>
#include <string_view>

#include "net/socket.h"
#include "net/tls_engine.h"
#include "net/transport.h"

namespace tarncore {

class TlsSession final : public Transport {
public:
    TlsSession();  // the platform engine
    explicit TlsSession(std::unique_ptr<TlsEngine> engine);
    /// Handshake and records over io instead of the own socket (tests drive the
    /// logic this way without a network); connect still uses the own socket.
    TlsSession(std::unique_ptr<TlsEngine> engine, Transport& io);
    ~TlsSession() override;
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    Error connect(std::string_view host, std::uint16_t port, std::uint32_t timeout_ms, int family);
    Error handshake(std::string_view host);
    Error send(const char* data, std::size_t length) override;
    std::int32_t recv(char* buffer, std::size_t capacity, Error& error) override;
    void set_receive_timeout(std::uint32_t timeout_ms) override;
    void reset();
    void close();

private:
    /// Handshake rounds over in until the package is done: its tokens are
    /// sent, more is read while it needs it; first: a fresh handshake's
    /// opening round, with nothing to give. On success in holds the bytes
    /// after the last handshake message.
    Error run_rounds(std::string& in, std::string_view host, std::string_view label, bool first);
    /// The package asked for what follows in incoming_ (a ticket, a key update).
    Error post_handshake();
    /// Decrypts what has arrived into out; the count written, or -1 with error.
    std::int64_t decrypt_available(std::span<char> out, Error& error);

    Socket socket_;
    std::unique_ptr<TlsEngine> engine_;
    Transport* io_;  // socket_ unless a test supplied another stream
    TlsStreamSizes sizes_;
    bool established_ = false;
    bool peer_closed_ = false;
    std::string host_;  // of the handshake, for the rounds after it
    // Received bytes, [incoming_begin_, incoming_end_) not yet decrypted; the
    // engine decrypts them in place or reads them from here.
    std::vector<char> incoming_;
    std::size_t incoming_begin_ = 0;
    std::size_t incoming_end_ = 0;
    // Decrypted for a caller whose buffer could not hold a whole record.
    std::string plaintext_;
    std::uint64_t read_offset_ = 0;
};

/// "TLS handshake/record failed: " + status_name(status), code 2, "network".
Error tls_error(std::string_view label, std::int32_t status);
std::string status_name(std::int32_t status);

}  // namespace tarncore
