#include "support/win32.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "net/socket_platform.h"

namespace tarncore::socket_platform {

namespace {

SOCKET socket_of(Handle handle) {
    return static_cast<SOCKET>(handle);
}

void set_option_ms(Handle handle, int option, std::uint32_t timeout_ms) {
    DWORD value = timeout_ms;
    ::setsockopt(socket_of(handle), SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                 sizeof value);
}

int clamp_length(std::size_t length) {
    return length > 0x7fffffff ? 0x7fffffff : static_cast<int>(length);
}

}  // namespace

int startup() {
    WSADATA data;
    return ::WSAStartup(0x0202, &data);
}

void shutdown() {
    ::WSACleanup();
}

int resolve(const std::string& host, const std::string& port, int family,
            std::vector<Endpoint>& endpoints) {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    return lookup_endpoints(host, port, hints, endpoints);
}

std::string resolve_error_text(int status) {
    char buffer[1024] = {};
    ::FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
        nullptr, static_cast<DWORD>(status), 0x0400, buffer, sizeof buffer, nullptr);
    return buffer;
}

Handle open(const Endpoint& endpoint) {
    SOCKET s = ::socket(endpoint.family, endpoint.type, endpoint.protocol);
    return s == INVALID_SOCKET ? kInvalid : static_cast<Handle>(s);
}

void set_timeouts(Handle handle, std::uint32_t timeout_ms) {
    set_option_ms(handle, SO_RCVTIMEO, timeout_ms);
    set_option_ms(handle, SO_SNDTIMEO, timeout_ms);
}

void set_receive_timeout(Handle handle, std::uint32_t timeout_ms) {
    set_option_ms(handle, SO_RCVTIMEO, timeout_ms);
}

bool connect(Handle handle, const Endpoint& endpoint) {
    return ::connect(socket_of(handle), reinterpret_cast<const sockaddr*>(endpoint.address.data()),
                     static_cast<int>(endpoint.address_length)) == 0;
}

void set_no_delay(Handle handle) {
    BOOL on = TRUE;
    ::setsockopt(socket_of(handle), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
                 sizeof on);
}

void close(Handle handle) {
    ::closesocket(socket_of(handle));
}

long send_some(Handle handle, const char* data, std::size_t length) {
    int n = ::send(socket_of(handle), data, clamp_length(length), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

long recv_some(Handle handle, char* buffer, std::size_t capacity) {
    int n = ::recv(socket_of(handle), buffer, clamp_length(capacity), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int last_error() {
    return ::WSAGetLastError();
}

std::optional<std::string> error_text(int code) {
    char* text = nullptr;
    DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) return std::nullopt;
    std::string result(text, length);
    ::LocalFree(text);
    return result;
}

}  // namespace tarncore::socket_platform
