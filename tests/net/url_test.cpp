#include "net/url.h"

#include <gtest/gtest.h>

#include <string>

#include "net/proxy.h"
#include "tests/common/test_data.h"

namespace tarncore {
namespace {

using tarntest::items;
using tarntest::text_at;

// The record in one line: scheme host port path ?query, and "tls" when set.
std::string fields(const Url& u) {
    return u.scheme + " " + u.host + " " + std::to_string(u.port) + " " + u.path + " ?" + u.query +
           (u.tls ? " tls" : "");
}

// [text, its fields as `fields` writes them, or the error: then nothing of
// the text is kept].
TARN_ROWS(UrlParse, "net/url.json", "parse");
TEST_P(UrlParse, ParsesOrRefuses) {
    Error error(1, "stale", "stale", "stale");
    const Url url = Url::parse(text_at(row, 0), error);
    EXPECT_EQ(error.failed() ? tarntest::error_text(error) : fields(url), text_at(row, 1));
    EXPECT_TRUE(error.ok() || fields(url) == fields(Url())) << fields(url);
}

// [host, whether it names this machine].
TARN_ROWS(UrlLoopback, "net/url.json", "loopback");
TEST_P(UrlLoopback, Judges) {
    EXPECT_EQ(is_loopback_host(text_at(row, 0)), text_at(row, 1) == "true");
}

// [[scheme, host, port, path, query, tls], the text].
TARN_ROWS(UrlWrite, "net/url.json", "write");
TEST_P(UrlWrite, WritesTextAndTarget) {
    const Json& f = items(row)[0];
    const Url url{
        text_at(f, 0), text_at(f, 1), static_cast<std::uint16_t>(std::stoi(text_at(f, 2))),
        text_at(f, 3), text_at(f, 4), text_at(f, 5) == "true"};
    const std::string text = text_at(row, 1);
    EXPECT_EQ(to_string(url), text);
    // The target is the tail of the text from the path on.
    EXPECT_EQ(request_target(url), text.substr(text.find('/', text.find("//") + 2)));
}

// [base, location, the URL it leads to].
TARN_ROWS(UrlResolve, "net/url.json", "resolve");
TEST_P(UrlResolve, Resolves) {
    EXPECT_EQ(resolve_location(text_at(row, 0), text_at(row, 1)), text_at(row, 2));
}

// [url, environment (names exactly as set), the user's setting (proxy,
// bypass), outcome]: the environment decides first, then the setting;
// outcome: "direct", the proxy as shown and its Proxy-Authorization, or the error.
TARN_ROWS(UrlProxy, "net/url.json", "proxy");
TEST_P(UrlProxy, ChoosesTheProxy) {
    Error error;
    const Url url = Url::parse(text_at(row, 0), error);
    const Json &env = items(row)[1], &system = items(row)[2];
    bool decided = false;
    ProxyServer proxy = proxy_from_environment(
        url,
        [&env](std::string_view name) -> std::optional<std::string> {
            const Json& value = env.find(std::string(name));
            if (value.kind != JsonKind::String) return std::nullopt;
            return std::get<std::string>(value.value);
        },
        decided, error);
    if (!decided && error.ok()) {
        proxy = proxy_from_setting(
            url, {system.get_string("proxy", ""), system.get_string("bypass", ""), false}, error);
    }
    const HeaderMap sent = through_proxy({}, proxy).headers;
    const std::string shown = (proxy.present() ? proxy.shown : "direct") +
                              (sent.empty() ? "" : " " + sent.at("Proxy-Authorization"));
    EXPECT_EQ(error.failed() ? tarntest::error_text(error) : shown, text_at(row, 3));
}

}  // namespace
}  // namespace tarncore
