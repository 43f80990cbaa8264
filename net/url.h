// Absolute URL texts of the four schemes the setup speaks (http, https, ws, wss).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/error.h"

namespace tarncore {

struct Url {
    std::string scheme;  // lower-cased
    std::string host;    // as written; an IPv6 address without its brackets
    std::uint16_t port = 0;
    std::string path;   // begins with "/" after a successful parse
    std::string query;  // after the first "?", without it
    bool tls = false;

    /// Fills error (code 2, "network", "Url.parse") and returns an empty Url on failure.
    static Url parse(std::string_view text, Error& error);
};

std::string to_string(const Url& url);
/// Path ("/" when empty) plus "?query" when there is one.
std::string request_target(const Url& url);
/// The absolute URL a redirect's Location leads to; what it cannot read is
/// returned as given.
std::string resolve_location(std::string_view base, std::string_view location);

/// A URL of this machine: it holds "://127.0.0.1" or "://localhost" anywhere.
/// A release build (one with release keys) has no such exemption: never true.
bool is_local_url(std::string_view url);
/// A host that names this machine: localhost, 127.0.0.0/8 or ::1 (a real host
/// test, not a text search). A release build has none: never true.
bool is_loopback_host(std::string_view host);

}  // namespace tarncore
