#include "update/version.h"

#include <gtest/gtest.h>

#include <string>

namespace tarncore {
namespace {

// "<parsed>", then " invalid" when is_valid_version says no.
TEST(Version, ParsesWhatItCanCutsSuffixesAndJudgesValidity) {
    const std::pair<const char*, const char*> cases[] = {
        {"1.4.2", "1.4.2"}, {"V2.0", "2.0.0"}, {"3", "3.0.0"},
        {"1.2.3-beta.1", "1.2.3"}, {"1.2.3+build.7", "1.2.3"}, {"1.2rc1", "1.2.0"},
        {"1.2.3.4", "1.2.3"}, {"01.002.0", "1.2.0"}, {"latest", "0.0.0 invalid"},
        {"vv1.0", "0.0.0 invalid"}, {" 1.0", "1.0.0 invalid"}, {"1.-2", "1.0.0"},
        {"", "0.0.0 invalid"}, {"1.x.3", "1.0.0"}, {"2.5.", "2.5.0"},
        {"1.2+3-4", "1.2.0"}, {"1.2.x", "1.2.0"}, {"0.0.0", "0.0.0"},
        {"v", "0.0.0 invalid"}, {"V0", "0.0.0"}, {"-1.0", "0.0.0 invalid"},
    };
    for (const auto& [text, expected] : cases) {
        const Version v = parse_version(text);
        EXPECT_EQ(std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
                      std::to_string(v.patch) + (is_valid_version(text) ? "" : " invalid"),
                  expected)
            << "'" << text << "'";
    }
}

TEST(Version, OrdersNumerically) {
    const std::tuple<const char*, const char*, int> cases[] = {
        {"1.2.3-rc.1", "1.2.3", 0}, {"1.10.0", "1.9.9", 1},  {"V1.0", "1.0.0", 0},
        {"1.0.0", "1.0.1", -1},     {"2.0.0", "1.99.99", 1}, {"1.2", "1.2.0", 0},
        {"0.9.9", "1.0.0", -1}};
    for (const auto& [a, b, expected] : cases) {
        EXPECT_EQ(compare_versions(parse_version(a), parse_version(b)), expected) << a << " " << b;
        EXPECT_EQ(compare_versions(parse_version(b), parse_version(a)), -expected) << b << " " << a;
    }
}

}  // namespace
}  // namespace tarncore
