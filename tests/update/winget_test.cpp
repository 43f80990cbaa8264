#include "update/winget_manifests.h"

#include <gtest/gtest.h>

#include "support/layout.h"
#include "tests/common/test_data.h"

namespace tarncore {
namespace {

const WingetFields kFields{"1.4.2", kSetupVersion,
                           "https://dl.example.org/releases/1.4.2/Tarnwick-Setup.exe", "0123abcd"};

std::string filled_template(const std::string& name) {
    std::string filled;
    const std::string text =
        tarntest::file_bytes(tarntest::source_path("packaging/winget/" + name));
    EXPECT_TRUE(fill_winget_template(text, kFields, filled).ok()) << name;
    return filled;
}

// [a line the filled manifest must hold, the manifest (default: the
// installer's)]: what winget needs to install, list and uninstall the setup,
// that the entry it matches is the one the setup writes, and the version.
TARN_ROWS(WingetInstallerLine, "update/winget_installer_lines.json", "");
TEST_P(WingetInstallerLine, IsInTheFilledManifest) {
    const std::string line = "\n" + tarntest::text_at(row, 0) + "\n";
    const std::string file = tarntest::text_at(row, 1);
    EXPECT_NE(filled_template(file.empty() ? "Tarnwick.Tarnwick.installer.yaml" : file).find(line),
              std::string::npos);
}

TEST(Winget, UnknownFieldsAreRefused) {
    std::string filled;
    EXPECT_EQ(
        fill_winget_template("Url: {{INSTALLER_URL}}\n# {{ANY}}\nX: {{SIZE}}\n", kFields, filled)
            .message,
        "Unknown field {{SIZE}} in a winget template");
}

}  // namespace
}  // namespace tarncore
