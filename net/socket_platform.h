// The socket calls themselves, one thin file per platform (socket_win32.cpp,
// socket_posix.cpp); socket.cpp builds the operations and messages on them once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace tarncore::socket_platform {

using Handle = std::uintptr_t;
inline constexpr Handle kInvalid = ~Handle{0};

/// One answer of the name look-up, copied out of the system's list.
struct Endpoint {
    int family = 0;
    int type = 0;
    int protocol = 0;
    std::array<unsigned char, 128> address{};  // large enough for any sockaddr
    std::size_t address_length = 0;
};

/// Copies the system's look-up list (Winsock and BSD share the addrinfo
/// layout, but not a header a portable file could include).
template <typename AddrInfo>
std::vector<Endpoint> endpoints_from(const AddrInfo* list) {
    std::vector<Endpoint> endpoints;
    for (const AddrInfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        Endpoint endpoint;
        endpoint.family = entry->ai_family;
        endpoint.type = entry->ai_socktype;
        endpoint.protocol = entry->ai_protocol;
        if (entry->ai_addrlen > endpoint.address.size()) continue;
        std::memcpy(endpoint.address.data(), entry->ai_addr, entry->ai_addrlen);
        endpoint.address_length = entry->ai_addrlen;
        endpoints.push_back(endpoint);
    }
    return endpoints;
}

/// The stream/TCP look-up of host and port with the platform's hints: the
/// look-up's own status, and on 0 the endpoints in the system's order.
/// getaddrinfo and freeaddrinfo are found by argument-dependent look-up.
template <typename AddrInfo>
int lookup_endpoints(const std::string& host, const std::string& port, const AddrInfo& hints,
                     std::vector<Endpoint>& endpoints) {
    AddrInfo* list = nullptr;
    int status = getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
    if (status != 0) return status;
    endpoints = endpoints_from(list);
    freeaddrinfo(list);
    return 0;
}

/// 0 or the start-up failure code.
int startup();
void shutdown();

/// Stream/TCP look-up of host and port (decimal text); returns the look-up's own
/// status (0 = answered) and fills the endpoints in the order the system gave.
int resolve(const std::string& host, const std::string& port, int family,
            std::vector<Endpoint>& endpoints);
/// The system's one-line text for a look-up status.
std::string resolve_error_text(int status);

Handle open(const Endpoint& endpoint);
/// Receive and send time-outs in milliseconds (0 = none).
void set_timeouts(Handle handle, std::uint32_t timeout_ms);
void set_receive_timeout(Handle handle, std::uint32_t timeout_ms);
bool connect(Handle handle, const Endpoint& endpoint);
void set_no_delay(Handle handle);
void close(Handle handle);

/// Bytes moved, or -1 with the error left for last_error().
long send_some(Handle handle, const char* data, std::size_t length);
long recv_some(Handle handle, char* buffer, std::size_t capacity);

int last_error();
/// The system's text for an error code, nullopt when it knows none.
std::optional<std::string> error_text(int code);

}  // namespace tarncore::socket_platform
