// Which proxy a request goes through: the environment first, read as the
// common command-line clients read it, then the user's system setting
// (proxy_win32.cpp; the POSIX stand-in has none). Only HTTP proxies are
// spoken: HTTPS through a CONNECT tunnel, plain HTTP in absolute form.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "net/http.h"
#include "net/transport.h"
#include "net/url.h"
#include "support/error.h"

namespace tarncore {

struct ProxyServer {
    std::string host;  // an IPv6 address without its brackets
    std::uint16_t port = 0;
    std::string user;      // percent-decoded
    std::string password;  // percent-decoded
    std::string shown;     // "http://[user@]host:port": never the password
    std::string origin;    // where it was read from, for messages

    bool present() const { return !host.empty(); }
};

/// The user's system proxy setting as the system reports it.
struct SystemProxySetting {
    std::string proxy;       // "host:port", or "http=host:port;https=host:port"
    std::string bypass;      // ';'-separated host patterns, "<local>"
    bool automatic = false;  // a script address or automatic detection
};

/// Platform file: the current user's setting (WinHTTP's view of it on
/// Windows; nothing on POSIX).
SystemProxySetting system_proxy_setting();

/// An environment variable's value by its exact name; nullopt when unset.
using EnvLookup = std::function<std::optional<std::string>(std::string_view)>;

/// "[http://][user[:password]@]host[:port][/]"; without a port, default_port.
/// Any other scheme is refused (code 2, "network").
ProxyServer parse_proxy(std::string_view text, std::uint16_t default_port, std::string origin,
                        Error& error);

/// A NO_PROXY list: "*", or comma-separated host suffixes (a leading dot
/// changes nothing), each with an optional ":port".
bool no_proxy_matches(std::string_view list, const Url& url);
/// A system bypass list: ';'-separated patterns with '*', "<local>" for a
/// name without a dot; loopback is bypassed unless the list says "<-loopback>".
bool bypass_matches(std::string_view list, const Url& url);

/// The decision for one URL: an empty server means a direct connection.
ProxyServer proxy_from_environment(const Url& url, const EnvLookup& env, bool& decided,
                                   Error& error);
ProxyServer proxy_from_setting(const Url& url, const SystemProxySetting& setting, Error& error);
/// Environment, then the system setting; the process environment and setting.
ProxyServer proxy_for(const Url& url, Error& error);

/// The request as the proxy is to receive it: credentials added.
HttpRequest through_proxy(const HttpRequest& request, const ProxyServer& proxy);

/// Asks the proxy for a tunnel to url's host and port over a connected
/// transport; fails clearly on anything but a 2xx (final: do not retry).
Error open_tunnel(Transport& transport, const ProxyServer& proxy, const Url& url, bool& final);

/// The error of a 407 from the proxy (code 3, "http").
Error proxy_refused(const ProxyServer& proxy, const HttpResponse& response);

}  // namespace tarncore
