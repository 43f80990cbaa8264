#include "install/removal.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/layout.h"
#include "install/user_path.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

using tarntest::InstallSandbox;

TEST(Removal, DeletesTheWholeFolderReadOnlyPartsIncluded) {
    InstallSandbox box;
    ASSERT_TRUE(add_to_user_path(bin_dir().native()).ok());
    const Path neighbour = box.local_app_data() / "OtherProgram" / "keep.txt";
    for (const Path& file : {neighbour, bin_dir() / "tarn.exe", modules_dir() / "d" / "init.lua",
                             tools_dir() / "ffmpeg.exe"}) {
        ASSERT_TRUE(copy_with_parents(box.make_file("f", "bytes"), file));
        if (file != neighbour) tarntest::set_read_only(file, true);
    }
    tarntest::set_read_only(modules_dir() / "d", true);

    for (int run = 0; run < 2; ++run) {  // nothing left to remove is no failure
        ASSERT_TRUE(remove_installation().ok()) << "run " << run;
        EXPECT_FALSE(path_exists(install_root()));
        EXPECT_TRUE(path_exists(neighbour));
        EXPECT_FALSE(path_list_contains(box.user_path(), bin_dir().native()));
    }
}

// With LOCALAPPDATA unset every folder name would be relative: a Tarnwick
// folder and a "bin" PATH entry belonging to the current folder must survive.
TEST(Removal, WithoutLocalAppDataNothingIsDeleted) {
    InstallSandbox box;
    const char* const files[] = {"Tarnwick/bin/tarn.exe", "bin/tarn.exe", "tarn.exe"};
    for (const char* rel : files) {
        ASSERT_TRUE(copy_with_parents(box.make_file("f", "b"), box.scratch() / Path(rel)));
    }
    ASSERT_TRUE(add_to_user_path(NativeString(Path("bin").native())).ok());
    const NativeString path_before = box.user_path();
    const Path old_cwd = std::filesystem::current_path();
    std::filesystem::current_path(box.scratch());
    {
        tarntest::ScopedEnv unset("LOCALAPPDATA", std::nullopt);
        EXPECT_EQ(remove_installation().message, "LOCALAPPDATA is not available");
    }
    std::filesystem::current_path(old_cwd);
    for (const char* rel : files) EXPECT_TRUE(path_exists(box.scratch() / Path(rel))) << rel;
    EXPECT_EQ(box.user_path(), path_before);
}

}  // namespace
}  // namespace tarncore
