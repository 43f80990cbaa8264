// HTTPS byte stream: one Socket plus the platform TLS engine, with the same two
// operations as the socket so the HTTP codec runs unchanged over it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "net/socket.h"
#include "net/transport.h"

namespace tarncore {

class TlsEngine;  // tls_engine.h: the platform's handshake, encrypt and decrypt steps

class TlsSession final : public Transport {
public:
    TlsSession();  // the platform engine
    explicit TlsSession(std::unique_ptr<TlsEngine> engine);
    ~TlsSession() override;

    Error connect(std::string_view host, std::uint16_t port, std::uint32_t timeout_ms,
                  int family);
    Error handshake(std::string_view host);
    Error send(const char* data, std::size_t length) override;
    std::int32_t recv(char* buffer, std::size_t capacity, Error& error) override;
    void set_receive_timeout(std::uint32_t timeout_ms);
    void reset();
    void close();
    // (private members are the TLS helper's to define)
};

/// "TLS handshake/record failed: " + status_name(status), code 2, "network".
Error tls_error(std::string_view label, std::int32_t status);
std::string status_name(std::int32_t status);

}  // namespace tarncore
