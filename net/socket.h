// Blocking TCP connection over Winsock (socket_win32.cpp) or BSD sockets
// (socket_posix.cpp): same operations, same messages, the system's own texts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "net/transport.h"

namespace tarncore {

class Socket final : public Transport {
public:
    Socket() = default;
    ~Socket() override { close(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    /// Starts the socket library once per run (WSAStartup 2.2; nothing on POSIX).
    static Error initialize();
    static void cleanup();

    /// Tries every address of host in turn; family 0 means any.
    Error connect(std::string_view host, std::uint16_t port, std::uint32_t timeout_ms, int family);
    Error send(const char* data, std::size_t length) override;
    std::int32_t recv(char* buffer, std::size_t capacity, Error& error) override;
    void set_receive_timeout(std::uint32_t timeout_ms) override;
    void close();
    bool connected() const { return handle_ != kInvalidHandle; }

private:
    static constexpr std::uintptr_t kInvalidHandle = ~std::uintptr_t{0};
    std::uintptr_t handle_ = kInvalidHandle;
};

/// What a receive reports when its time-out passes, wherever the wait was kept.
Error receive_timeout_error();

/// The system's text for a socket error code, no trailing line breaks; code 0
/// means the calling thread's last socket error.
std::string winsock_error_text(int code);

}  // namespace tarncore
