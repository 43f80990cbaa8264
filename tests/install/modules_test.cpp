#include "install/modules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "install/layout.h"
#include "payload/module_table.h"
#include "tests/common/error_text.h"
#include "tests/common/test_env.h"

namespace tarncore {
namespace {

namespace fs = std::filesystem;
using tarntest::ScopedEnv;
using tarntest::TempDir;

std::set<std::string> files_below(const Path& root) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) out.insert(fs::relative(e.path(), root).generic_string());
    }
    return out;
}

TEST(Modules, WritesExactlyTheTableByteForByte) {
    TempDir tmp;
    ScopedEnv env("LOCALAPPDATA", tmp.path().native());
    ASSERT_TRUE(write_module_files().ok());

    std::set<std::string> expected;
    for (const ModuleEntry& m : kModuleTable) expected.insert(m.path);
    EXPECT_EQ(expected.size(), 98u);
    EXPECT_EQ(files_below(modules_dir()), expected);
    EXPECT_EQ(files_below(versions_dir() / kModuleVersion / "modules"), expected);

    for (const ModuleEntry& m : kModuleTable) {
        std::string on_disk, source;
        ASSERT_TRUE(read_file(modules_dir() / Path(m.path).make_preferred(), on_disk)) << m.path;
        ASSERT_TRUE(read_file(tarntest::source_path(std::string("payload/lua/") + m.path), source));
        EXPECT_EQ(on_disk, source) << m.path;
    }
}

TEST(Modules, ReadOnlyModuleStopsTheWriteAtThatModule) {
    TempDir tmp;
    ScopedEnv env("LOCALAPPDATA", tmp.path().native());
    ASSERT_TRUE(write_module_files().ok());
    const Path blocked = modules_dir() / "discord" / "init.lua";
    const Path earlier = modules_dir() / "discord" / "bitfield.lua";  // before it in table order
    ASSERT_TRUE(write_file(earlier, "stale"));
    tarntest::set_read_only(blocked, true);

    Error e = write_module_files();
    tarntest::set_read_only(blocked, false);
    EXPECT_EQ(tarntest::error_text(e), "10 tarnwick setup: Could not write " + path_text(blocked));
    std::string text;
    EXPECT_TRUE(read_file(earlier, text) && text != "stale") << "modules before it are rewritten";
}

TEST(Modules, InstalledNeedsRuntimeAndDiscordPackage) {
    TempDir tmp;
    ScopedEnv env("LOCALAPPDATA", tmp.path().native());
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
