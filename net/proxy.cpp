#include "net/proxy.h"

#include <algorithm>
#include <type_traits>
#include <vector>

#include "support/ascii.h"
#include "support/logger.h"
#include "support/system.h"

namespace tarncore {

namespace {

Error proxy_error(std::string message) {
    return Error(kErrNetwork, "network", "HttpClient.execute", std::move(message));
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> split_any(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> parts;
    while (!text.empty()) {
        const std::size_t end = text.find_first_of(separators);
        std::string_view part = trimmed(text.substr(0, end));
        if (!part.empty()) parts.push_back(part);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return parts;
}

std::string percent_decoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && is_hex_digit(text[i + 1]) &&
            is_hex_digit(text[i + 2])) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string base64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]))
                              << 16;
        if (i + 1 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(group >> 18) & 63];
        out += kAlphabet[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[group & 63] : '=';
    }
    return out;
}

// "host", "host:port", "[v6]", "[v6]:port"; a bare v6 address has no port.
struct HostPort {
    std::string host;
    std::optional<std::uint16_t> port;
    bool valid = true;
};

HostPort split_host_port(std::string_view text) {
    HostPort out;
    std::string_view port_text;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return {{}, {}, false};
        out.host.assign(text.substr(1, close - 1));
        std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') return {{}, {}, false};
            port_text = rest.substr(1);
            if (port_text.empty()) return {{}, {}, false};
        }
    } else if (std::count(text.begin(), text.end(), ':') > 1) {
        out.host.assign(text);
    } else {
        const std::size_t colon = text.find(':');
        out.host.assign(text.substr(0, colon));
        if (colon != std::string_view::npos) {
            port_text = text.substr(colon + 1);
            if (port_text.empty()) return {{}, {}, false};
        }
    }
    if (!port_text.empty()) {
        if (port_text.size() > 5 || port_text.find_first_not_of("0123456789") != std::string::npos)
            return {{}, {}, false};
        const int port = std::stoi(std::string(port_text));
        if (port == 0 || port > 65535) return {{}, {}, false};
        out.port = static_cast<std::uint16_t>(port);
    }
    return out;
}

// The host compared as names are: no case, no trailing dot.
std::string comparable(std::string_view host) {
    if (host.ends_with('.')) host.remove_suffix(1);
    return ascii_lowered(host);
}

bool glob_matches(std::string_view pattern, std::string_view text) {
    if (pattern.empty()) return text.empty();
    if (pattern.front() == '*') {
        for (std::size_t skip = 0; skip <= text.size(); ++skip) {
            if (glob_matches(pattern.substr(1), text.substr(skip))) return true;
        }
        return false;
    }
    return !text.empty() && (pattern.front() == '?' || pattern.front() == text.front()) &&
           glob_matches(pattern.substr(1), text.substr(1));
}

bool is_loopback(const std::string& host) {
    return host == "localhost" || host.starts_with("127.") || host == "::1";
}

std::string narrow(const NativeString& value) {
    std::string out;
    for (const auto c : value) {
        const auto code = static_cast<std::make_unsigned_t<std::remove_const_t<decltype(c)>>>(c);
        out += code < 0x80 ? static_cast<char>(code) : '?';
    }
    return out;
}

std::optional<std::string> process_env(std::string_view name) {
    std::optional<NativeString> value = get_env(name);
    if (!value) return std::nullopt;
    return narrow(*value);
}

// The first of the names that is set and not empty.
std::optional<std::pair<std::string, std::string>> first_set(
    const EnvLookup& env, std::initializer_list<std::string_view> names) {
    for (std::string_view name : names) {
        std::optional<std::string> value = env(name);
        if (value && !trimmed(*value).empty()) return std::pair{std::string(name), *value};
    }
    return std::nullopt;
}

}  // namespace

ProxyServer parse_proxy(std::string_view text, std::uint16_t default_port, std::string origin,
                        Error& error) {
    error = Error();
    text = trimmed(text);
    const std::size_t sep = text.find("://");
    if (sep != std::string_view::npos) {
        const std::string scheme = ascii_lowered(text.substr(0, sep));
        if (scheme != "http") {
            error = proxy_error("Unsupported proxy scheme \"" + console_safe(scheme) + "\" in " +
                                origin + "; only http:// proxies are supported");
            return {};
        }
        text.remove_prefix(sep + 3);
    }
    if (const std::size_t slash = text.find('/'); slash != std::string_view::npos) {
        text = text.substr(0, slash);
    }
    ProxyServer proxy;
    std::string shown_user;
    if (const std::size_t at = text.rfind('@'); at != std::string_view::npos) {
        const std::string_view userinfo = text.substr(0, at);
        const std::size_t colon = userinfo.find(':');
        shown_user.assign(userinfo.substr(0, colon));
        proxy.user = percent_decoded(userinfo.substr(0, colon));
        if (colon != std::string_view::npos) {
            proxy.password = percent_decoded(userinfo.substr(colon + 1));
        }
        text.remove_prefix(at + 1);
    }
    HostPort where = split_host_port(text);
    bool clean = where.valid && !where.host.empty();
    for (char c : where.host) clean = clean && static_cast<unsigned char>(c) > 0x20 && c != 0x7F;
    if (!clean) {
        error = proxy_error("Invalid proxy address in " + origin + ": \"" +
                            console_safe(std::string(text)) + "\"");
        return {};
    }
    proxy.host = where.host;
    proxy.port = where.port.value_or(default_port);
    const std::string host =
        proxy.host.find(':') != std::string::npos ? "[" + proxy.host + "]" : proxy.host;
    proxy.shown = console_safe("http://" + (shown_user.empty() ? "" : shown_user + "@") + host +
                               ":" + std::to_string(proxy.port));
    proxy.origin = std::move(origin);
    return proxy;
}

bool no_proxy_matches(std::string_view list, const Url& url) {
    const std::string host = comparable(url.host);
    for (std::string_view entry : split_any(list, ", ")) {
        if (entry == "*") return true;
        HostPort pattern = split_host_port(entry);
        if (!pattern.valid || (pattern.port && *pattern.port != url.port)) continue;
        std::string name = comparable(pattern.host);
        if (name.starts_with('.')) name.erase(0, 1);
        if (name.empty()) continue;
        if (host == name || (host.size() > name.size() && host.ends_with(name) &&
                             host[host.size() - name.size() - 1] == '.')) {
            return true;
        }
    }
    return false;
}

bool bypass_matches(std::string_view list, const Url& url) {
    const std::string host = comparable(url.host);
    bool loopback = true;
    for (std::string_view entry : split_any(list, "; \t\r\n")) {
        const std::string pattern = ascii_lowered(entry);
        if (pattern == "<-loopback>") {
            loopback = false;
        } else if (pattern == "<local>") {
            if (host.find('.') == std::string::npos && host.find(':') == std::string::npos)
                return true;
        } else {
            std::string_view bare = pattern;
            if (const std::size_t sep = bare.find("://"); sep != std::string_view::npos)
                bare.remove_prefix(sep + 3);
            if (glob_matches(bare, host) ||
                glob_matches(bare, host + ":" + std::to_string(url.port))) {
                return true;
            }
        }
    }
    return loopback && is_loopback(host);
}

ProxyServer proxy_from_environment(const Url& url, const EnvLookup& env, bool& decided,
                                   Error& error) {
    error = Error();
    decided = false;
    // Upper-case HTTP_PROXY is never read: a web server's CGI puts a client's
    // "Proxy:" header there. (Names of the Windows environment have no case.)
    const auto named =
        url.tls ? first_set(env, {"https_proxy", "HTTPS_PROXY"}) : first_set(env, {"http_proxy"});
    const auto exempt = first_set(env, {"no_proxy", "NO_PROXY"});
    if (exempt && no_proxy_matches(exempt->second, url)) {
        decided = true;
        return {};
    }
    if (!named) return {};
    decided = true;
    return parse_proxy(named->second, 1080, named->first, error);
}

ProxyServer proxy_from_setting(const Url& url, const SystemProxySetting& setting, Error& error) {
    error = Error();
    if (setting.proxy.empty() || bypass_matches(setting.bypass, url)) return {};
    std::string_view chosen;
    for (std::string_view entry : split_any(setting.proxy, "; \t")) {
        const std::size_t eq = entry.find('=');
        if (eq == std::string_view::npos) {
            if (chosen.empty()) chosen = entry;  // one proxy for every scheme
            continue;
        }
        if (ascii_lowered(trimmed(entry.substr(0, eq))) == (url.tls ? "https" : "http")) {
            chosen = trimmed(entry.substr(eq + 1));
            break;
        }
    }
    if (chosen.empty()) return {};
    return parse_proxy(chosen, 80, "the user's proxy setting", error);
}

ProxyServer proxy_for(const Url& url, Error& error) {
    bool decided = false;
    ProxyServer proxy = proxy_from_environment(url, process_env, decided, error);
    if (decided || error.failed()) return proxy;
    const SystemProxySetting setting = system_proxy_setting();
    if (setting.automatic && setting.proxy.empty()) {
        static bool told = false;
        if (!told) {
            Logger::instance().debug("http",
                                     "the user's proxy setting is automatic (a script or "
                                     "detection), which is not run here; connecting directly");
            told = true;
        }
        return {};
    }
    return proxy_from_setting(url, setting, error);
}

HttpRequest through_proxy(const HttpRequest& request, const ProxyServer& proxy) {
    HttpRequest sent = request;
    if (!proxy.user.empty() || !proxy.password.empty()) {
        sent.headers["Proxy-Authorization"] = "Basic " + base64(proxy.user + ":" + proxy.password);
    }
    return sent;
}

Error open_tunnel(Transport& transport, const ProxyServer& proxy, const Url& url, bool& final) {
    final = false;
    const std::string authority =
        (url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host) + ":" +
        std::to_string(url.port);
    std::string out = "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n";
    const HttpRequest credentials = through_proxy({}, proxy);
    for (const auto& [name, value] : credentials.headers) out += name + ": " + value + "\r\n";
    out += "\r\n";
    TARN_TRY(transport.send(out.data(), out.size()));

    Error error;
    std::string buffer;
    if (!read_until(transport, buffer, "\r\n\r\n", error, kMaxHeaderBytes)) return error;
    // Only the status line counts; a refusal's body is never read.
    const std::size_t end = buffer.find("\r\n\r\n") + 4;
    HttpResponse response;
    const std::size_t space = buffer.find(' ');
    const std::size_t line_end = buffer.find("\r\n");
    if (space < line_end && line_end - space > 3) {
        const std::string code = buffer.substr(space + 1, 3);
        if (code.find_first_not_of("0123456789") == std::string::npos)
            response.status = std::stoi(code);
        response.reason = std::string(trimmed(buffer.substr(space + 4, line_end - space - 4)));
    }
    final = true;
    if (response.status == 407) return proxy_refused(proxy, response);
    if (response.status < 200 || response.status > 299) {
        return http_error("Proxy " + proxy.shown + " refused the tunnel to " +
                          console_safe(authority) + ": " + std::to_string(response.status) + " " +
                          console_safe(response.reason));
    }
    if (buffer.size() > end) {
        return http_error("Proxy " + proxy.shown + " sent data before the tunnel was open");
    }
    final = false;
    Logger::instance().debug("http", "tunnel to " + authority + " through " + proxy.shown);
    return {};
}

Error proxy_refused(const ProxyServer& proxy, const HttpResponse& response) {
    const bool gave = !proxy.user.empty() || !proxy.password.empty();
    return http_error("Proxy " + proxy.shown +
                      (gave ? " refused the credentials: " : " requires authentication: ") +
                      std::to_string(response.status) + " " + console_safe(response.reason) +
                      " (proxy from " + proxy.origin + ")");
}

}  // namespace tarncore
