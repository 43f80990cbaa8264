#include "update/version.h"

#include <gtest/gtest.h>

#include <string>

namespace tarncore {
namespace {

std::string show(const Version& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

TEST(Version, ParsesReadsWhatItCanAndCutsSuffixes) {
    const std::pair<const char*, const char*> cases[] = {
        {"1.4.2", "1.4.2"},        {"V2.0", "2.0.0"},        {"3", "3.0.0"},
        {"1.2.3-beta.1", "1.2.3"}, {"1.2.3+build.7", "1.2.3"}, {"1.2rc1", "1.2.0"},
        {"1.2.3.4", "1.2.3"},      {"01.002.0", "1.2.0"},    {"latest", "0.0.0"},
        {"vv1.0", "0.0.0"},        {" 1.0", "1.0.0"},        {"1.-2", "1.0.0"},
        {"", "0.0.0"},             {"1.x.3", "1.0.0"},       {"2.5.", "2.5.0"},
        {"1.2+3-4", "1.2.0"},      {"1.2.x", "1.2.0"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(show(parse_version(text)), expected) << "text '" << text << "'";
    }
}

TEST(Version, Validity) {
    const std::pair<const char*, bool> cases[] = {
        {"1.0.0", true}, {"v1.0", true},  {"0.0.0", true},  {"0", true},
        {"0.1", true},   {"", false},     {"v", false},     {"vv1.0", false},
        {" 1.0", false}, {"latest", false}, {"V0", true},   {"-1.0", false},
    };
    for (const auto& [text, valid] : cases) {
        EXPECT_EQ(is_valid_version(text), valid) << "text '" << text << "'";
    }
}

TEST(Version, OrdersNumerically) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
    };
    const Case cases[] = {
        {"1.2.3-rc.1", "1.2.3", 0}, {"1.10.0", "1.9.9", 1}, {"V1.0", "1.0.0", 0},
        {"1.0.0", "1.0.1", -1},     {"2.0.0", "1.99.99", 1}, {"1.2", "1.2.0", 0},
        {"0.9.9", "1.0.0", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(compare_versions(parse_version(c.a), parse_version(c.b)), c.expected)
            << c.a << " vs " << c.b;
        EXPECT_EQ(compare_versions(parse_version(c.b), parse_version(c.a)), -c.expected)
            << c.b << " vs " << c.a;
    }
}

}  // namespace
}  // namespace tarncore
