#include "install/record.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/layout.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

TEST(InstallRecord, WrittenPrettyInKeyOrderAndReadBack) {
    tarntest::InstallSandbox box;
    EXPECT_EQ(read_installed_version(), "") << "no record";
    ASSERT_TRUE(write_install_record().ok());
    const std::string text = tarntest::file_bytes(install_record_path());
    const std::regex shape(
        "\\{\n  \"cli\": \"1\\.0\\.0\",\n  \"installed_at\": \"\\d{4}-\\d\\d-\\d\\d "
        "\\d\\d:\\d\\d:\\d\\d\",\n  \"module\": \"1\\.2\\.4\",\n  \"runtime\": \"1\\.0\\.0\",\n"
        "  \"version\": \"1\\.2\\.4\"\n\\}");
    EXPECT_TRUE(std::regex_match(text, shape)) << text;
    for (const auto& row : tarntest::data_rows("install/records.txt")) {
        ASSERT_TRUE(write_file(install_record_path(), row[0]));
        EXPECT_EQ(read_installed_version(), row.size() > 1 ? row[1] : "") << row[0];
    }
    std::string failure;
    ASSERT_TRUE(remove_tree(config_dir(), failure) && ensure_dir(install_record_path()));
    EXPECT_EQ(read_installed_version(), "") << "a folder in place of the record";
    ASSERT_TRUE(remove_tree(config_dir(), failure) && write_file(config_dir(), "in the way"));
    EXPECT_EQ(write_install_record().message, "Could not write install.json");
}

}  // namespace
}  // namespace tarncore
