#include "net/socket.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "net/socket_platform.h"

namespace tarncore {
namespace sp = socket_platform;

namespace {

Error network_error(const char* function, std::string message) {
    return Error(kErrNetwork, "network", function, std::move(message));
}

Error socket_error(const char* function, std::string message, int code) {
    return system_error(kErrNetwork, "network", function, std::move(message), code);
}

}  // namespace

Error receive_timeout_error() {
    Error error = network_error("Socket.recv", "Receive timed out");
    error.kind = ErrorKind::kTimedOut;
    return error;
}

std::string winsock_error_text(int code) {
    if (code == 0) code = sp::last_error();
    std::string text = sp::error_text(code).value_or("Winsock error " + std::to_string(code));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

Error Socket::initialize() {
    int status = sp::startup();
    if (status != 0) {
        return network_error("Socket.initialize",
                             "WSAStartup failed: " + winsock_error_text(status));
    }
    return Error();
}

void Socket::cleanup() {
    sp::shutdown();
}

Error Socket::connect(std::string_view host, std::uint16_t port, std::uint32_t timeout_ms,
                      int family) {
    close();
    const std::string host_text(host);
    std::vector<sp::Endpoint> endpoints;
    int status = sp::resolve(host_text, std::to_string(port), family, endpoints);
    if (status != 0 || endpoints.empty()) {
        Error error = network_error("Socket.connect", "DNS lookup failed for " + host_text + ": " +
                                                          sp::resolve_error_text(status));
        error.kind = lookup_error_kind(status);
        return error;
    }

    // Names the host only when no socket could even be created; otherwise the
    // text of the last refused or failed connect is the more useful one.
    Error pending = network_error("Socket.connect", "Could not connect to " + host_text);
    for (const sp::Endpoint& endpoint : endpoints) {
        sp::Handle handle = sp::open(endpoint);
        if (handle == sp::kInvalid) continue;
        sp::set_timeouts(handle, timeout_ms);
        if (sp::connect(handle, endpoint)) {
            sp::set_no_delay(handle);
            handle_ = handle;
            return Error();
        }
        const int code = sp::last_error();
        pending =
            socket_error("Socket.connect", "connect() failed: " + winsock_error_text(code), code);
        sp::close(handle);
    }
    return pending;
}

Error Socket::send(const char* data, std::size_t length) {
    std::size_t sent = 0;
    while (sent < length) {
        long n = sp::send_some(handle_, data + sent, std::min<std::size_t>(length - sent, INT_MAX));
        if (n < 0) {
            const int code = sp::last_error();
            return socket_error("Socket.send", winsock_error_text(code), code);
        }
        if (n == 0) {
            Error closed = network_error("Socket.send", "Connection closed while sending");
            closed.kind = ErrorKind::kClosed;
            return closed;
        }
        sent += static_cast<std::size_t>(n);
    }
    return Error();
}

std::int32_t Socket::recv(char* buffer, std::size_t capacity, Error& error) {
    error = Error();
    long n = sp::recv_some(handle_, buffer, std::min<std::size_t>(capacity, INT32_MAX));
    if (n >= 0) return static_cast<std::int32_t>(n);
    const int code = sp::last_error();
    error = system_error_kind(code) == ErrorKind::kTimedOut
                ? receive_timeout_error()
                : socket_error("Socket.recv", winsock_error_text(code), code);
    return -1;
}

void Socket::set_receive_timeout(std::uint32_t timeout_ms) {
    sp::set_receive_timeout(handle_, timeout_ms);
}

void Socket::close() {
    if (handle_ == kInvalidHandle) return;
    sp::close(handle_);
    handle_ = kInvalidHandle;
}

}  // namespace tarncore
