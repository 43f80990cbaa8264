#include "install/registration.h"

#include <gtest/gtest.h>

#include <regex>

#include "install/install_steps.h"
#include "install/removal.h"
#include "support/layout.h"
#include "tests/common/console_capture.h"
#include "tests/common/install_sandbox.h"
#include "tests/common/test_data.h"

namespace tarncore {
namespace {

std::string shown(const EntryValue& value) {
    return value.is_number ? std::to_string(value.number) : path_text(Path(value.text));
}

// Every value Apps & Features and winget read, the shortcut's console, and
// all of it gone with the installation.
TEST(Registration, ListsTheInstallationUntilItIsRemoved) {
    tarntest::InstallSandbox box;
    {
        tarntest::ConsoleCapture quiet;
        ASSERT_TRUE(install_runtime(box, box.make_file("rt", "runtime")).ok());
        ASSERT_TRUE(register_installation(box).ok());
    }
    EXPECT_EQ(tarntest::file_bytes(setup_copy_path(box)), tarntest::file_bytes(module_file_name()));

    std::map<std::string, std::string> seen;
    for (const EntryValue& value : platform::read_uninstall_entry())
        seen[value.name] = shown(value);
    std::uintmax_t bytes = 0;
    for (const std::string& file : tarntest::files_below(box.root)) {
        bytes += std::filesystem::file_size(box.root / Path(file).make_preferred());
    }
    const Json table = tarntest::read_json("install/uninstall_entry.json");
    for (const auto& [name, expected] : tarntest::members(table)) {
        std::string text = expected.kind == JsonKind::String ? std::get<std::string>(expected.value)
                                                             : expected.dump(false);
        text = tarntest::replace_all(text, {{"{copy}", path_text(setup_copy_path(box))},
                                            {"{root}", path_text(box.root)},
                                            {"{kib}", std::to_string((bytes + 1023) / 1024)}});
        if (text == "{date}") {
            EXPECT_TRUE(std::regex_match(seen[name], std::regex("20\\d\\d[01]\\d[0-3]\\d")));
        } else {
            EXPECT_EQ(seen[name], text) << name;
        }
    }
    EXPECT_EQ(seen.size(), tarntest::members(table).size());

    platform::Shortcut shortcut;
    ASSERT_TRUE(platform::read_shortcut(platform::start_menu_shortcut_path(), shortcut));
    EXPECT_EQ(shortcut.target.filename().string(), "cmd.exe");
    EXPECT_EQ(path_text(Path(shortcut.arguments))
                  .rfind("/k \"set PATH=" + path_text(box.bin) + ";%PATH% && ", 0),
              0u);

    ASSERT_TRUE(remove_installation(box).ok());
    EXPECT_TRUE(platform::read_uninstall_entry().empty());
    EXPECT_FALSE(path_exists(platform::start_menu_shortcut_path()));
}

}  // namespace
}  // namespace tarncore
