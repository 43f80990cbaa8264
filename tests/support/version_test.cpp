#include "support/version.h"

#include <gtest/gtest.h>

#include "tests/common/test_env.h"

namespace tarncore {
namespace {

std::string shown(std::string_view text) {
    const Version v = parse_version(text);
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch) +
           (is_valid_version(text) ? "" : " invalid");
}

TEST(Version, ParsesJudgesAndOrdersTheRows) {
    for (const auto& row : tarntest::data_rows("support/versions.txt")) {
        if (row.size() == 2) {
            EXPECT_EQ(shown(row[0]), row[1]) << "'" << row[0] << "'";
            continue;
        }
        const Version a = parse_version(row[0]), b = parse_version(row[1]);
        EXPECT_EQ(compare_versions(a, b), std::stoi(row[2])) << row[0] << " " << row[1];
        EXPECT_EQ(compare_versions(b, a), -std::stoi(row[2])) << row[1] << " " << row[0];
    }
}

}  // namespace
}  // namespace tarncore
