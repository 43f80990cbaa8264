#include "update/winget_manifests.h"

#include <gtest/gtest.h>

#include "support/layout.h"
#include "tests/common/test_data.h"
#include "tests/common/test_env.h"

namespace tarncore {
namespace {

const WingetFields kFields{"1.4.2", kSetupVersion,
                           "https://dl.example.org/releases/1.4.2/Tarnwick-Setup.exe", "0123abcd"};

std::string filled_template(const std::string& name) {
    std::string text;
    std::string filled;
    EXPECT_TRUE(read_file(tarntest::source_path("packaging/winget/" + name), text)) << name;
    EXPECT_TRUE(fill_winget_template(text, kFields, filled).ok()) << name;
    return filled;
}

// What winget needs to install, list and uninstall the setup, and that the
// entry it matches is the one the setup writes.
TEST(Winget, FilledManifestsDescribeTheUserScopeSetup) {
    const std::string installer = filled_template("Tarnwick.Tarnwick.installer.yaml");
    for (const auto& row : tarntest::data_rows("update/winget_installer_lines.txt")) {
        EXPECT_NE(installer.find("\n" + row[0] + "\n"), std::string::npos) << row[0];
    }
    for (const char* name : {"Tarnwick.Tarnwick.yaml", "Tarnwick.Tarnwick.locale.en-US.yaml"}) {
        EXPECT_NE(filled_template(name).find("\nPackageVersion: 1.4.2\n"), std::string::npos);
    }
    std::string filled;
    EXPECT_EQ(
        fill_winget_template("Url: {{INSTALLER_URL}}\n# {{ANY}}\nX: {{SIZE}}\n", kFields, filled)
            .message,
        "Unknown field {{SIZE}} in a winget template");
}

}  // namespace
}  // namespace tarncore
