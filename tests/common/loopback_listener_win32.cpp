#include "support/win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "tests/common/loopback_listener.h"

namespace tarntest::loopback {

// Counted by Winsock, so the listener may start it beside the code under test.
void startup() {
    WSADATA data;
    ::WSAStartup(0x0202, &data);
}

void shutdown() {
    ::WSACleanup();
}

std::uintptr_t open(bool listen, std::uint16_t& port) {
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return kInvalid;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (listen && ::listen(s, 8) != 0) ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::closesocket(s);
        return kInvalid;
    }
    port = ntohs(address.sin_port);
    return static_cast<std::uintptr_t>(s);
}

std::uintptr_t accept(std::uintptr_t listener) {
    SOCKET s = ::accept(listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) return kInvalid;
    // A client that never closes must not hold a read for ever.
    DWORD limit = 10000;
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    return static_cast<std::uintptr_t>(s);
}

bool send_all(std::uintptr_t handle, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        int n = ::send(handle, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

long recv_some(std::uintptr_t handle, char* buffer, std::size_t capacity) {
    int n = ::recv(handle, buffer, static_cast<int>(capacity), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

void close(std::uintptr_t handle) {
    ::closesocket(handle);
}

}  // namespace tarntest::loopback
