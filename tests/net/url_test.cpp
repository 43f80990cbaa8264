#include "net/url.h"

#include <gtest/gtest.h>

#include <string>

#include "net/proxy.h"
#include "tests/common/error_text.h"
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

TEST(Url, ParsesWritesAndResolvesTheTable) {
    const Json table = tarntest::read_json("net/url.json");
    ASSERT_FALSE(items(table.find("parse")).empty());
    for (const Json& row : items(table.find("parse"))) {
        Error error(1, "stale", "stale", "stale");
        EXPECT_EQ(fields(Url::parse(text_at(row, 0), error)), text_at(row, 1));
        EXPECT_TRUE(error.ok()) << text_at(row, 0) << ": " << error.message;
    }
    ASSERT_FALSE(items(table.find("loopback")).empty());
    for (const Json& row : items(table.find("loopback"))) {
        EXPECT_EQ(is_loopback_host(text_at(row, 0)), std::get<bool>(items(row)[1].value))
            << text_at(row, 0);
    }
    for (const std::string section : {"refuse", "strict"}) {
        for (const Json& row : items(table.find(section))) {
            Error error;
            EXPECT_EQ(fields(Url::parse(text_at(row, 0), error)), fields(Url()));
            EXPECT_EQ(tarntest::error_text(error),
                      (section == "refuse" ? "2 network Url.parse: " : "") + text_at(row, 1));
        }
    }
    for (const Json& row : items(table.find("write"))) {
        const Json& f = items(row)[0];
        const Url url{
            text_at(f, 0), text_at(f, 1), static_cast<std::uint16_t>(std::stoi(text_at(f, 2))),
            text_at(f, 3), text_at(f, 4), text_at(f, 5) == "true"};
        const std::string text = text_at(row, 1);
        EXPECT_EQ(to_string(url), text);
        // The target is the tail of the text from the path on.
        EXPECT_EQ(request_target(url), text.substr(text.find('/', text.find("//") + 2)));
    }
    for (const Json& row : items(table.find("resolve"))) {
        EXPECT_EQ(resolve_location(text_at(row, 0), text_at(row, 1)), text_at(row, 2))
            << text_at(row, 0) << " + " << text_at(row, 1);
    }
}

// The proxy for a URL from an environment (names exactly as given), then the
// user's setting: "direct", the proxy as shown with its credentials, or the error.
TEST(Url, ChoosesItsProxy) {
    for (const Json& row : tarntest::json_rows("net/url.json", "proxy")) {
        SCOPED_TRACE(text_at(row, 0) + " " + items(row)[1].dump(false));
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
                url, {system.get_string("proxy", ""), system.get_string("bypass", ""), false},
                error);
        }
        const HeaderMap sent = through_proxy({}, proxy).headers;
        const std::string shown = (proxy.present() ? proxy.shown : "direct") +
                                  (sent.empty() ? "" : " " + sent.at("Proxy-Authorization"));
        EXPECT_EQ(error.failed() ? tarntest::error_text(error) : shown, text_at(row, 3));
    }
}

}  // namespace
}  // namespace tarncore
