#include "install/removal.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "install/layout.h"
#include "install/user_path.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

namespace fs = std::filesystem;
using tarntest::InstallSandbox;

TEST(Removal, DeletesTheWholeFolderReadOnlyPartsIncluded) {
    InstallSandbox box;
    ASSERT_TRUE(add_to_user_path(bin_dir().native()).ok());
    const Path neighbour = box.local_app_data() / "OtherProgram" / "keep.txt";
    ASSERT_TRUE(copy_with_parents(box.make_file("keep", "keep"), neighbour));
    for (const Path& file : {bin_dir() / "tarn.exe", modules_dir() / "discord" / "init.lua",
                             versions_dir() / "1.2.4" / "tarn.exe", tools_dir() / "ffmpeg.exe"}) {
        ASSERT_TRUE(copy_with_parents(box.make_file("f", "bytes"), file));
        tarntest::set_read_only(file, true);
    }
    tarntest::set_read_only(modules_dir() / "discord", true);

    Error e = remove_installation();
    ASSERT_TRUE(e.ok()) << e.message;
    EXPECT_FALSE(path_exists(install_root()));
    EXPECT_TRUE(path_exists(neighbour));
    EXPECT_FALSE(path_list_contains(box.user_path(), bin_dir().native()));
    // Nothing left to remove is no failure either.
    EXPECT_TRUE(remove_installation().ok());
}

// With LOCALAPPDATA unset every folder name would be relative: a Tarnwick
// folder and a "bin" PATH entry belonging to the current folder must survive.
TEST(Removal, WithoutLocalAppDataNothingIsDeleted) {
    InstallSandbox box;
    const Path here = box.scratch();
    for (const char* rel : {"Tarnwick/bin/tarn.exe", "bin/tarn.exe", "tarn.exe"}) {
        ASSERT_TRUE(
            copy_with_parents(box.make_file("f", "bytes"), here / Path(rel).make_preferred()));
    }
    ASSERT_TRUE(add_to_user_path(NativeString(Path("bin").native())).ok());
    const NativeString path_before = box.user_path();
    const Path old_cwd = fs::current_path();
    fs::current_path(here);
    {
        tarntest::ScopedEnv unset("LOCALAPPDATA", std::nullopt);
        Error e = remove_installation();
        EXPECT_EQ(e.message, "LOCALAPPDATA is not available");
        EXPECT_EQ(e.code, 10u);
    }
    fs::current_path(old_cwd);
    for (const char* rel : {"Tarnwick/bin/tarn.exe", "bin/tarn.exe", "tarn.exe"}) {
        EXPECT_TRUE(path_exists(here / Path(rel).make_preferred())) << rel;
    }
    EXPECT_EQ(box.user_path(), path_before);
}

}  // namespace
}  // namespace tarncore
