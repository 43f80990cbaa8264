// BSD sockets in place of Winsock. Texts come from gai_strerror and the C
// library's error descriptions.
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

#include "net/socket_platform.h"

namespace tarncore::socket_platform {

namespace {

int fd_of(Handle handle) {
    return static_cast<int>(handle);
}

timeval to_timeval(std::uint32_t timeout_ms) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout_ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout_ms % 1000) * 1000);
    return tv;
}

}  // namespace

// No library to start; SIGPIPE is kept off per call with MSG_NOSIGNAL.
int startup() {
    return 0;
}
void shutdown() {}

int resolve(const std::string& host, const std::string& port, int family,
            std::vector<Endpoint>& endpoints) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    return lookup_endpoints(host, port, hints, endpoints);
}

std::string resolve_error_text(int status) {
    return ::gai_strerror(status);
}

Handle open(const Endpoint& endpoint) {
    int fd = ::socket(endpoint.family, endpoint.type | SOCK_CLOEXEC, endpoint.protocol);
    return fd < 0 ? kInvalid : static_cast<Handle>(fd);
}

void set_timeouts(Handle handle, std::uint32_t timeout_ms) {
    timeval tv = to_timeval(timeout_ms);
    ::setsockopt(fd_of(handle), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd_of(handle), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

void set_receive_timeout(Handle handle, std::uint32_t timeout_ms) {
    timeval tv = to_timeval(timeout_ms);
    ::setsockopt(fd_of(handle), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

bool connect(Handle handle, const Endpoint& endpoint) {
    return ::connect(fd_of(handle), reinterpret_cast<const sockaddr*>(endpoint.address.data()),
                     static_cast<socklen_t>(endpoint.address_length)) == 0;
}

void set_no_delay(Handle handle) {
    int on = 1;
    ::setsockopt(fd_of(handle), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void close(Handle handle) {
    ::close(fd_of(handle));
}

// Winsock has no EINTR; a signal that lands mid-call is not a failure here either.
long send_some(Handle handle, const char* data, std::size_t length) {
    ssize_t n;
    do {
        n = ::send(fd_of(handle), data, length, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

long recv_some(Handle handle, char* buffer, std::size_t capacity) {
    ssize_t n;
    do {
        n = ::recv(fd_of(handle), buffer, capacity, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

int last_error() {
    return errno;
}

// strerrordesc_np knows no text for an unknown code (where strerror would make
// one up), so such a code gets the same fallback text as on Windows.
std::optional<std::string> error_text(int code) {
    const char* text = ::strerrordesc_np(code);
    if (text == nullptr) return std::nullopt;
    return std::string(text);
}

}  // namespace tarncore::socket_platform
