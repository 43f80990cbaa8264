#include "install/record.h"

#include <gtest/gtest.h>

#include <regex>

#include "support/layout.h"
#include "tests/common/error_text.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

TEST(InstallRecord, WrittenPrettyInKeyOrder) {
    tarntest::InstallSandbox box;
    ASSERT_TRUE(write_install_record().ok());
    const std::string text = tarntest::file_bytes(install_record_path());
    const std::regex shape(
        "\\{\n  \"cli\": \"1\\.0\\.0\",\n  \"installed_at\": \"\\d{4}-\\d\\d-\\d\\d "
        "\\d\\d:\\d\\d:\\d\\d\",\n  \"module\": \"1\\.2\\.4\",\n  \"runtime\": \"1\\.0\\.0\",\n"
        "  \"version\": \"1\\.2\\.4\"\n\\}");
    EXPECT_TRUE(std::regex_match(text, shape)) << text;
    EXPECT_EQ(read_installed_version(), "1.2.4");
}

TEST(InstallRecord, ReadsVersionThenRuntime) {
    tarntest::InstallSandbox box;
    EXPECT_EQ(read_installed_version(), "") << "no record";
    ASSERT_TRUE(ensure_dir(config_dir()));
    const std::pair<const char*, const char*> cases[] = {
        {R"({"version":"2.0.1","runtime":"1.0.0"})", "2.0.1"},
        {R"({"runtime":"1.0.0"})", "1.0.0"},
        {R"({"version":3,"runtime":"1.1.0"})", "1.1.0"},
        {R"(["version"])", ""},
        {R"({"module":"1.2.4"})", ""},
        {"not json", ""},
        {"\xEF\xBB\xBF{\"version\":\"9.9.9\"}", "9.9.9"},
    };
    for (const auto& [text, expected] : cases) {
        ASSERT_TRUE(write_file(install_record_path(), text));
        EXPECT_EQ(read_installed_version(), expected) << text;
    }
}

TEST(InstallRecord, ConfigFolderThatIsAFileFailsTheWrite) {
    tarntest::InstallSandbox box;
    ASSERT_TRUE(ensure_dir(install_root()));
    ASSERT_TRUE(write_file(config_dir(), "in the way"));
    EXPECT_EQ(tarntest::error_text(write_install_record()),
              "10 tarnwick setup: Could not write install.json");
}

}  // namespace
}  // namespace tarncore
