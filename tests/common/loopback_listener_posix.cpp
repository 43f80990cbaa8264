#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "tests/common/loopback_listener.h"

namespace tarntest::loopback {

void startup() {}
void shutdown() {}

std::uintptr_t open(bool listen, std::uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return kInvalid;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (listen && ::listen(fd, 8) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return kInvalid;
    }
    port = ntohs(address.sin_port);
    return static_cast<std::uintptr_t>(fd);
}

std::uintptr_t accept(std::uintptr_t listener) {
    int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return kInvalid;
    // A client that never closes must not hold a read for ever.
    timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return static_cast<std::uintptr_t>(fd);
}

bool send_all(std::uintptr_t handle, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(static_cast<int>(handle), bytes.data() + sent, bytes.size() - sent,
                           MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

long recv_some(std::uintptr_t handle, char* buffer, std::size_t capacity) {
    return static_cast<long>(::recv(static_cast<int>(handle), buffer, capacity, 0));
}

void close(std::uintptr_t handle) {
    ::close(static_cast<int>(handle));
}

}  // namespace tarntest::loopback
