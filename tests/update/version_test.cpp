#include "update/version.h"

#include <gtest/gtest.h>

#include <string>

namespace tarncore {
namespace {

TEST(Version, ParsesWhatItCanCutsSuffixesAndJudgesValidity) {
    struct Case {
        const char* text;
        const char* parsed;
        bool valid;
    };
    const Case cases[] = {
        {"1.4.2", "1.4.2", true},
        {"V2.0", "2.0.0", true},
        {"3", "3.0.0", true},
        {"1.2.3-beta.1", "1.2.3", true},
        {"1.2.3+build.7", "1.2.3", true},
        {"1.2rc1", "1.2.0", true},
        {"1.2.3.4", "1.2.3", true},
        {"01.002.0", "1.2.0", true},
        {"latest", "0.0.0", false},
        {"vv1.0", "0.0.0", false},
        {" 1.0", "1.0.0", false},
        {"1.-2", "1.0.0", true},
        {"", "0.0.0", false},
        {"1.x.3", "1.0.0", true},
        {"2.5.", "2.5.0", true},
        {"1.2+3-4", "1.2.0", true},
        {"1.2.x", "1.2.0", true},
        {"0.0.0", "0.0.0", true},
        {"v", "0.0.0", false},
        {"V0", "0.0.0", true},
        {"-1.0", "0.0.0", false},
    };
    for (const Case& c : cases) {
        const Version v = parse_version(c.text);
        EXPECT_EQ(
            std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch),
            c.parsed)
            << "'" << c.text << "'";
        EXPECT_EQ(is_valid_version(c.text), c.valid) << "'" << c.text << "'";
    }
}

TEST(Version, OrdersNumerically) {
    const std::tuple<const char*, const char*, int> cases[] = {
        {"1.2.3-rc.1", "1.2.3", 0}, {"1.10.0", "1.9.9", 1},  {"V1.0", "1.0.0", 0},
        {"1.0.0", "1.0.1", -1},     {"2.0.0", "1.99.99", 1}, {"1.2", "1.2.0", 0},
        {"0.9.9", "1.0.0", -1},
    };
    for (const auto& [a, b, expected] : cases) {
        EXPECT_EQ(compare_versions(parse_version(a), parse_version(b)), expected) << a << " " << b;
        EXPECT_EQ(compare_versions(parse_version(b), parse_version(a)), -expected) << b << " " << a;
    }
}

}  // namespace
}  // namespace tarncore
