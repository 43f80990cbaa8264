#include "net/url.h"

#include <gtest/gtest.h>

#include <string>

namespace tarncore {
namespace {

TEST(Url, ParsesIntoFields) {
    struct Case {
        const char* text;
        const char* scheme;
        const char* host;
        std::uint16_t port;
        const char* path;
        const char* query;
        bool tls;
    };
    const Case cases[] = {
        {"HTTPS://Example.COM", "https", "Example.COM", 443, "/", "", true},
        {"http://host?a=1/2", "http", "host", 80, "/", "a=1/2", false},
        {"http://host/p?x?y", "http", "host", 80, "/p", "x?y", false},
        {"http://[::1]:8080/x", "http", "::1", 8080, "/x", "", false},
        {"http://[::1]/x", "http", "::1", 80, "/x", "", false},
        {"http://[::1]junk/x", "http", "::1", 80, "/x", "", false},
        {"http://u@h:81/", "http", "u@h", 81, "/", "", false},
        {"wss://h", "wss", "h", 443, "/", "", true},
        {"Ws://h/", "ws", "h", 80, "/", "", false},
        {"https://h:8443/a/b?c=d#frag", "https", "h", 8443, "/a/b", "c=d#frag", true},
        {"http://a:b:90/", "http", "a:b", 90, "/", "", false},
        {"http://h/%20x/../y", "http", "h", 80, "/%20x/../y", "", false},
        {"http://h/?", "http", "h", 80, "/", "", false},
        // Port text: blanks and a sign before the digits, junk after them.
        {"http://h:+81/", "http", "h", 81, "/", "", false},
        {"http://h: 82", "http", "h", 82, "/", "", false},
        {"http://h:83abc/", "http", "h", 83, "/", "", false},
        {"http://h:0", "http", "h", 0, "/", "", false},
        {"http://h:65535", "http", "h", 65535, "/", "", false},
        {"http://h:-0", "http", "h", 0, "/", "", false},
    };
    for (const Case& c : cases) {
        Error error(1, "stale", "stale", "stale");
        Url url = Url::parse(c.text, error);
        EXPECT_TRUE(error.ok()) << c.text << ": " << error.message;
        EXPECT_EQ(url.scheme, c.scheme) << c.text;
        EXPECT_EQ(url.host, c.host) << c.text;
        EXPECT_EQ(url.port, c.port) << c.text;
        EXPECT_EQ(url.path, c.path) << c.text;
        EXPECT_EQ(url.query, c.query) << c.text;
        EXPECT_EQ(url.tls, c.tls) << c.text;
    }
}

TEST(Url, RefusesWithNetworkError) {
    const std::pair<const char*, const char*> cases[] = {
        {"h/x", "URL must include a scheme, e.g. https://example.com"},
        {"", "URL must include a scheme, e.g. https://example.com"},
        {":/", "URL must include a scheme, e.g. https://example.com"},
        {"http:/h", "URL must include a scheme, e.g. https://example.com"},
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
        Url url = Url::parse(text, error);
        EXPECT_EQ(error.code, 2u) << text;
        EXPECT_EQ(error.module, "network") << text;
        EXPECT_EQ(error.function, "Url.parse") << text;
        EXPECT_EQ(error.message, message) << text;
        EXPECT_TRUE(error.traceback.empty()) << text;
        EXPECT_TRUE(url.scheme.empty() && url.host.empty() && url.path.empty() &&
                    url.query.empty() && url.port == 0 && !url.tls)
            << text;
    }
}

TEST(Url, WritesBack) {
    struct Case {
        Url url;
        const char* text;
        const char* target;
    };
    const Case cases[] = {
        {{"https", "h", 443, "/a", "b=1", true}, "https://h/a?b=1", "/a?b=1"},
        {{"https", "h", 8443, "/a", "b=1", true}, "https://h:8443/a?b=1", "/a?b=1"},
        {{"https", "h", 0, "/a", "", true}, "https://h/a", "/a"},
        {{"http", "h", 80, "", "", false}, "http://h/", "/"},
        {{"http", "h", 443, "/", "", false}, "http://h:443/", "/"},
        // The default port follows the TLS flag, not the scheme text.
        {{"http", "h", 443, "/", "", true}, "http://h/", "/"},
        {{"wss", "h", 80, "", "q", true}, "wss://h:80/?q", "/?q"},
        {{"http", "::1", 8080, "/x", "", false}, "http://[::1]:8080/x", "/x"},
        {{"http", "fe80::1", 80, "/", "", false}, "http://[fe80::1]/", "/"},
        {{"http", "[a", 80, "/", "", false}, "http://[[a]/", "/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(to_string(c.url), c.text);
        EXPECT_EQ(request_target(c.url), c.target) << c.text;
    }
}

TEST(Url, WrittenTextParsesBackToTheSameRecord) {
    for (const char* text :
         {"http://[::1]/x", "https://[2001:db8::2]:8443/p?q=1", "http://a:b:81/",
          "WSS://Host.Example:9/deep/path?x?y", "http://h?a/b", "http://[[x]/"}) {
        Error error;
        Url url = Url::parse(text, error);
        ASSERT_TRUE(error.ok()) << text;
        Url again = Url::parse(to_string(url), error);
        ASSERT_TRUE(error.ok()) << to_string(url);
        EXPECT_EQ(again.scheme, url.scheme) << text;
        EXPECT_EQ(again.host, url.host) << text;
        EXPECT_EQ(again.port, url.port) << text;
        EXPECT_EQ(again.path, url.path) << text;
        EXPECT_EQ(again.query, url.query) << text;
        EXPECT_EQ(again.tls, url.tls) << text;
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
