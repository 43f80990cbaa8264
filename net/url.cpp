#include "net/url.h"

#include "support/ascii.h"
#include "support/release_keys.h"

#include <optional>

namespace tarncore {
namespace {

Error url_error(std::string message) {
    return Error(kErrNetwork, "network", "Url.parse", std::move(message));
}

// Read as by the C conversion, but a port text without digits or outside
// 0..65535 is refused rather than wrapped into the 16-bit field.
std::optional<std::uint16_t> read_port(std::string_view text) {
    std::optional<CNumber> number = read_c_number(text, 10, 65535);
    if (!number || (number->negative && number->magnitude != 0)) return std::nullopt;
    return static_cast<std::uint16_t>(number->magnitude);
}

void split_query(std::string_view text, std::string& path, std::string& query) {
    std::size_t mark = text.find('?');
    if (mark == std::string_view::npos) {
        path.assign(text);
        query.clear();
    } else {
        path.assign(text.substr(0, mark));
        query.assign(text.substr(mark + 1));
    }
}

}  // namespace

Url Url::parse(std::string_view text, Error& error) {
    error = Error();
    // Whatever a URL holds goes onto the wire (request line, Host): a line
    // break there would write headers or a second request of its own.
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte <= 0x20 || byte >= 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            error = Error(
                kErrHttp, "network", "Url.parse",
                std::string("URL holds a control character, space or non-ASCII byte (0x") +
                    kHex[byte >> 4] + kHex[byte & 15] + " at position " + std::to_string(i) + ")");
            return Url();
        }
    }
    std::size_t sep = text.find("://");
    if (sep == std::string_view::npos) {
        error = url_error("URL must include a scheme, e.g. https://example.com");
        return Url();
    }

    Url url;
    url.scheme = ascii_lowered(text.substr(0, sep));
    url.tls = url.scheme == "https" || url.scheme == "wss";
    if (url.scheme == "http" || url.scheme == "ws") {
        url.port = 80;
    } else if (url.tls) {
        url.port = 443;
    } else {
        error = url_error("Unsupported URL scheme: " + url.scheme);
        return Url();
    }

    std::string_view rest = text.substr(sep + 3);
    std::size_t slash = rest.find('/');
    std::size_t mark = rest.find('?');
    std::string_view authority = rest;
    url.path = "/";
    if (slash != std::string_view::npos && (mark == std::string_view::npos || slash < mark)) {
        authority = rest.substr(0, slash);
        split_query(rest.substr(slash), url.path, url.query);
    } else if (mark != std::string_view::npos) {
        authority = rest.substr(0, mark);
        url.query.assign(rest.substr(mark + 1));
    }
    if (authority.empty()) {
        error = url_error("URL is missing a host");
        return Url();
    }

    std::optional<std::string_view> port_text;
    if (authority.front() == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            error = url_error("Invalid IPv6 URL");
            return Url();
        }
        url.host.assign(authority.substr(1, close - 1));
        if (close + 1 < authority.size() && authority[close + 1] == ':') {
            port_text = authority.substr(close + 2);
        }
    } else {
        std::size_t colon = authority.rfind(':');
        url.host.assign(authority.substr(0, colon));
        if (colon != std::string_view::npos) port_text = authority.substr(colon + 1);
    }
    if (port_text) {
        std::optional<std::uint16_t> port = read_port(*port_text);
        if (!port) {
            error = url_error("Invalid URL port: \"" + std::string(*port_text) + "\"");
            return Url();
        }
        url.port = *port;
    }
    return url;
}

std::string to_string(const Url& url) {
    std::string text = url.scheme + "://";
    // An address with colons goes in brackets, or it would not read back as
    // one host; so does a host that itself begins with one.
    if (url.host.find(':') != std::string::npos || url.host.starts_with('[')) {
        text += "[" + url.host + "]";
    } else {
        text += url.host;
    }
    if (url.port != 0 && url.port != (url.tls ? 443 : 80)) text += ":" + std::to_string(url.port);
    return text + request_target(url);
}

std::string request_target(const Url& url) {
    std::string target = url.path.empty() ? "/" : url.path;
    if (!url.query.empty()) target += "?" + url.query;
    return target;
}

std::string resolve_location(std::string_view base, std::string_view location) {
    if (location.starts_with("https://") || location.starts_with("http://")) {
        return std::string(location);
    }
    Error error;
    Url url = Url::parse(base, error);
    if (error.failed()) return std::string(location);

    if (location.starts_with("/")) {
        split_query(location, url.path, url.query);
        return to_string(url);
    }
    std::string directory = url.path.empty() ? "/" : url.path;
    std::size_t last = directory.rfind('/');
    directory = last == std::string::npos ? "/" : directory.substr(0, last + 1);
    std::string relative;
    split_query(location, relative, url.query);
    url.path = directory + relative;
    return to_string(url);
}

bool is_loopback_host(std::string_view host) {
    if (release_build()) return false;
    if (equals_ignoring_ascii_case(host, "localhost") || host == "::1") return true;
    // An IPv4 literal of four decimal parts, 0..255 each, the first 127.
    int parts = 0, value = 0, digits = 0;
    for (std::size_t i = 0; i <= host.size(); ++i) {
        if (i == host.size() || host[i] == '.') {
            if (digits == 0 || value > 255 || (parts == 0 && value != 127)) return false;
            ++parts;
            value = digits = 0;
        } else if (host[i] >= '0' && host[i] <= '9' && digits < 3) {
            value = value * 10 + (host[i] - '0');
            ++digits;
        } else {
            return false;
        }
    }
    return parts == 4;
}

bool is_local_url(std::string_view url) {
    if (release_build()) return false;
    return url.find("://127.0.0.1") != std::string_view::npos ||
           url.find("://localhost") != std::string_view::npos;
}

}  // namespace tarncore
