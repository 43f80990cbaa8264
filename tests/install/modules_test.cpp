#include "install/modules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "support/layout.h"
#include "payload/module_table.h"
#include "tests/common/error_text.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

namespace fs = std::filesystem;
using tarntest::file_bytes;
using tarntest::InstallSandbox;

std::set<std::string> files_below(const Path& root) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) out.insert(fs::relative(e.path(), root).generic_string());
    }
    return out;
}

TEST(Modules, WritesExactlyTheTableByteForByte) {
    InstallSandbox box;
    ASSERT_TRUE(write_module_files().ok());

    std::set<std::string> expected;
    for (const ModuleEntry& m : kModuleTable) expected.insert(m.path);
    EXPECT_EQ(expected.size(), 98u);
    EXPECT_EQ(files_below(modules_dir()), expected);
    EXPECT_EQ(files_below(versions_dir() / kModuleVersion / "modules"), expected);

    for (const ModuleEntry& m : kModuleTable) {
        EXPECT_EQ(file_bytes(modules_dir() / Path(m.path).make_preferred()),
                  file_bytes(tarntest::source_path(std::string("payload/lua/") + m.path)))
            << m.path;
    }
}

TEST(Modules, ReadOnlyModuleStopsTheWriteAtThatModule) {
    InstallSandbox box;
    ASSERT_TRUE(write_module_files().ok());
    const Path blocked = modules_dir() / "discord" / "init.lua";
    const Path earlier = modules_dir() / "discord" / "bitfield.lua";  // before it in table order
    ASSERT_TRUE(write_file(earlier, "stale"));
    tarntest::set_read_only(blocked, true);

    Error e = write_module_files();
    tarntest::set_read_only(blocked, false);
    EXPECT_EQ(tarntest::error_text(e), "10 tarnwick setup: Could not write " + path_text(blocked));
    EXPECT_NE(file_bytes(earlier), "stale") << "modules before it are rewritten";
}

TEST(Modules, InstalledNeedsRuntimeAndDiscordPackage) {
    InstallSandbox box;
    EXPECT_FALSE(is_installed());
    ASSERT_TRUE(write_module_files().ok());
    EXPECT_FALSE(is_installed()) << "no runtime yet";
    ASSERT_TRUE(ensure_dir(bin_dir()));
    ASSERT_TRUE(write_file(bin_dir() / "tarn.exe", "MZ"));
    EXPECT_TRUE(is_installed());
    fs::remove(modules_dir() / "discord" / "init.lua");
    EXPECT_FALSE(is_installed());
}

}  // namespace
}  // namespace tarncore
