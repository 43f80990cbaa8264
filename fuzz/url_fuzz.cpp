// Url::parse and resolve_location on arbitrary bytes. The input is a URL text,
// optionally followed by a NUL and a redirect location to resolve against it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "net/url.h"

namespace {

using tarncore::Error;
using tarncore::Url;

void check(bool condition) {
    if (!condition) std::abort();
}

bool same(const Url& a, const Url& b) {
    return a.scheme == b.scheme && a.host == b.host && a.port == b.port && a.path == b.path &&
           a.query == b.query && a.tls == b.tls;
}

// What to_string cannot write so that it reads back: an empty host (the text
// would have no authority), a port of 0 (never written, so the default comes
// back), and a host holding both ':' and ']' (the bracket would end early).
bool writes_back(const Url& url) {
    return !url.host.empty() && url.port != 0 &&
           !(url.host.find(':') != std::string::npos && url.host.find(']') != std::string::npos);
}

// Whether text holds only bytes a URL may carry; others make it refused.
bool printable(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t nul = input.find('\0');
    std::string_view text = input.substr(0, nul);
    std::string_view location =
        nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

    Error error;
    Url url = Url::parse(text, error);
    if (error.failed()) {
        // A byte that could reach the wire raw is refused as an HTTP error.
        check((error.code == 2 || error.code == 3) && error.module == "network" &&
              error.function == "Url.parse" && !error.message.empty());
        check(same(url, Url()));
    } else {
        check(!url.path.empty() && url.path.front() == '/');
        check(url.path.find('?') == std::string::npos);
        check(url.tls == (url.scheme == "https" || url.scheme == "wss"));
        check(url.tls || url.scheme == "http" || url.scheme == "ws");
        check(url.host.find('/') == std::string::npos && url.host.find('?') == std::string::npos);
        check(tarncore::request_target(url).front() == '/');

        if (writes_back(url)) {
            Error again;
            check(same(Url::parse(tarncore::to_string(url), again), url) && again.ok());
        }
    }

    std::string resolved = tarncore::resolve_location(text, location);
    if (error.failed() || location.starts_with("http://") || location.starts_with("https://")) {
        check(resolved == location);
    } else if (error.ok() && writes_back(url) && printable(location)) {
        // A relative location stays on the base's scheme, host and port.
        Error again;
        Url target = Url::parse(resolved, again);
        check(again.ok());
        check(target.scheme == url.scheme && target.host == url.host && target.port == url.port);
        std::string_view wanted_query;
        if (std::size_t mark = location.find('?'); mark != std::string_view::npos) {
            wanted_query = location.substr(mark + 1);
        }
        check(target.query == wanted_query);
        if (location.starts_with("/")) {
            check(target.path == location.substr(0, location.find('?')));
        } else {
            check(target.path.starts_with(url.path.substr(0, url.path.rfind('/') + 1)));
        }
    }
    return 0;
}
