#include "net/url.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/common/error_text.h"

namespace tarncore {
namespace {

// The record in one line: scheme host port path ?query, and "tls" when set.
std::string fields(const Url& u) {
    return u.scheme + " " + u.host + " " + std::to_string(u.port) + " " + u.path + " ?" + u.query +
           (u.tls ? " tls" : "");
}

TEST(Url, ParsesIntoFields) {
    const std::pair<const char*, const char*> cases[] = {
        {"HTTPS://Example.COM", "https Example.COM 443 / ? tls"},
        {"http://host?a=1/2", "http host 80 / ?a=1/2"},
        {"http://host/p?x?y", "http host 80 /p ?x?y"},
        {"http://[::1]:8080/x", "http ::1 8080 /x ?"},
        {"http://[::1]/x", "http ::1 80 /x ?"},
        {"http://[::1]junk/x", "http ::1 80 /x ?"},
        {"http://u@h:81/", "http u@h 81 / ?"},
        {"wss://h", "wss h 443 / ? tls"},
        {"Ws://h/", "ws h 80 / ?"},
        {"https://h:8443/a/b?c=d#frag", "https h 8443 /a/b ?c=d#frag tls"},
        {"http://a:b:90/", "http a:b 90 / ?"},
        {"http://h/%20x/../y", "http h 80 /%20x/../y ?"},
        {"http://h/?", "http h 80 / ?"},
        // Port text: blanks and a sign before the digits, junk after them.
        {"http://h:+81/", "http h 81 / ?"},
        {"http://h: 82", "http h 82 / ?"},
        {"http://h:83abc/", "http h 83 / ?"},
        {"http://h:0", "http h 0 / ?"},
        {"http://h:65535", "http h 65535 / ?"},
        {"http://h:-0", "http h 0 / ?"},
    };
    for (const auto& [text, expected] : cases) {
        Error error(1, "stale", "stale", "stale");
        EXPECT_EQ(fields(Url::parse(text, error)), expected);
        EXPECT_TRUE(error.ok()) << text << ": " << error.message;
    }
}

TEST(Url, RefusesWithNetworkError) {
    const std::string no_scheme = "URL must include a scheme, e.g. https://example.com";
    const std::pair<const char*, std::string> cases[] = {
        {"h/x", no_scheme},
        {"", no_scheme},
        {"http:/h", no_scheme},
        {"ftp://h", "Unsupported URL scheme: ftp"},
        {"FTP://h", "Unsupported URL scheme: ftp"},
        {"://h", "Unsupported URL scheme: "},
        {"https://", "URL is missing a host"},
        {"https:///path", "URL is missing a host"},
        {"http://?q", "URL is missing a host"},
        {"http://[::1", "Invalid IPv6 URL"},
        {"http://[::1/x]", "Invalid IPv6 URL"},
        {"http://h:", "Invalid URL port: \"\""},
        {"http://h:x", "Invalid URL port: \"x\""},
        {"http://h:65536/", "Invalid URL port: \"65536\""},
        {"http://h:99999999999999999999", "Invalid URL port: \"99999999999999999999\""},
        {"http://h:-1", "Invalid URL port: \"-1\""},
        {"http://[::1]:", "Invalid URL port: \"\""},
        {"http://[::1]:http", "Invalid URL port: \"http\""},
    };
    for (const auto& [text, message] : cases) {
        Error error;
        EXPECT_EQ(fields(Url::parse(text, error)), fields(Url())) << text;
        EXPECT_EQ(tarntest::error_text(error),
                  tarntest::error_text(Error(2, "network", "Url.parse", message)));
    }
}

TEST(Url, WritesBack) {
    struct Case {
        Url url;
        const char* text;
    };
    const Case cases[] = {
        {{"https", "h", 443, "/a", "b=1", true}, "https://h/a?b=1"},
        {{"https", "h", 8443, "/a", "b=1", true}, "https://h:8443/a?b=1"},
        {{"https", "h", 0, "/a", "", true}, "https://h/a"},
        {{"http", "h", 80, "", "", false}, "http://h/"},
        {{"http", "h", 443, "/", "", false}, "http://h:443/"},
        // The default port follows the TLS flag, not the scheme text.
        {{"http", "h", 443, "/", "", true}, "http://h/"},
        {{"wss", "h", 80, "", "q", true}, "wss://h:80/?q"},
        {{"http", "::1", 8080, "/x", "", false}, "http://[::1]:8080/x"},
        {{"http", "fe80::1", 80, "/", "", false}, "http://[fe80::1]/"},
        {{"http", "[a", 80, "/", "", false}, "http://[[a]/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(to_string(c.url), c.text);
        // The target is the tail of the text from the path on.
        std::string text = c.text;
        EXPECT_EQ(request_target(c.url), text.substr(text.find('/', text.find("//") + 2)));
    }
}

TEST(Url, ResolvesLocations) {
    struct Case {
        const char* base;
        const char* location;
        const char* expected;
    };
    const Case cases[] = {
        {"https://h/a/b?x=1", "c?y=2", "https://h/a/c?y=2"},
        {"https://h/a/b?x=1", "/d", "https://h/d"},
        {"https://h/a/b?x=1", "http://o/p", "http://o/p"},
        {"http://h/a", "https://o/p?q", "https://o/p?q"},
        {"https://h/a/b?x=1", "/d?e=f?g", "https://h/d?e=f?g"},
        {"https://h:8443/a/", "c", "https://h:8443/a/c"},
        {"https://h/a/b", "../c", "https://h/a/../c"},
        {"https://h/a/b", "//other/p", "https://h//other/p"},
        {"https://h/a/b?x=1", "", "https://h/a/"},
        {"https://h", "c", "https://h/c"},
        {"http://[::1]:81/a/b", "c", "http://[::1]:81/a/c"},
        // Scheme prefixes are matched exactly.
        {"https://h/a/b", "HTTPS://o/p", "https://h/a/HTTPS://o/p"},
        {"https://h/a/b", "ftp://o/p", "https://h/a/ftp://o/p"},
        // A base that does not parse leaves the location as given.
        {"not a url", "/d", "/d"},
        {"ftp://h/a", "c", "c"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(resolve_location(c.base, c.location), c.expected)
            << c.base << " + " << c.location;
    }
}

}  // namespace
}  // namespace tarncore
