#include "install/removal.h"

#include <gtest/gtest.h>

#include "install/user_path.h"
#include "support/layout.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

TEST(Removal, DeletesTheWholeFolderReadOnlyPartsIncluded) {
    tarntest::InstallSandbox box;
    ASSERT_TRUE(add_to_user_path(bin_dir().native()).ok());
    const Path neighbour = box.local_app_data() / "OtherProgram" / "keep.txt";
    ASSERT_TRUE(copy_with_parents(box.make_file("f", "bytes"), neighbour));
    for (const Path& file :
         {bin_dir() / "tarn.exe", modules_dir() / "d" / "init.lua", tools_dir() / "ffmpeg.exe"}) {
        ASSERT_TRUE(copy_with_parents(neighbour, file));
        tarntest::set_read_only(file, true);
    }
    tarntest::set_read_only(modules_dir() / "d", true);
    for (int run = 0; run < 2; ++run) {  // nothing left to remove is no failure
        ASSERT_TRUE(remove_installation().ok()) << "run " << run;
        EXPECT_TRUE(!path_exists(install_root()) && path_exists(neighbour));
        EXPECT_FALSE(path_list_contains(box.user_path(), bin_dir().native()));
    }
}

// A folder link and a file link inside the installation, and an installation
// folder that is itself a link. Natively these are symbolic links, deleted as
// links; under Wine they are Unix links that show as plain folders and files:
// the folders are left alone and named.
TEST(Removal, NeverReachesOutsideThroughLinks) {
    for (bool root_is_link : {false, true}) {
        tarntest::InstallSandbox box;
        const Path outside = box.scratch() / "outside",
                   link = root_is_link ? install_root() : cache_dir() / "dirlink";
        ASSERT_TRUE(copy_with_parents(box.make_file("f", "keep"), outside / "keep.txt"));
        ASSERT_TRUE(ensure_dir(link.parent_path()) && tarntest::make_link(link, outside));
        ASSERT_TRUE(root_is_link ||
                    (copy_with_parents(outside / "keep.txt", bin_dir() / "tarn.exe") &&
                     tarntest::make_link(bin_dir() / "filelink", outside / "keep.txt")));
        const bool seen_as_link = file_kind(link) == FileKind::Link;
        const std::string root = path_text(install_root()), message = remove_installation().message;
        EXPECT_EQ(tarntest::files_below(outside), std::set<std::string>{"keep.txt"});
        EXPECT_EQ(tarntest::file_bytes(outside / "keep.txt"), "keep");
        EXPECT_EQ(message, root_is_link ? "Could not remove " + root + " (" + root +
                                              " is a link; nothing was deleted)"
                           : seen_as_link ? ""
                                          : "Could not remove " + root + " (" + path_text(link) +
                                                " leads outside " + root + " and was left alone)");
        EXPECT_EQ(path_exists(install_root()), root_is_link || !seen_as_link);
        EXPECT_FALSE(path_exists(bin_dir() / "tarn.exe"));
    }
}

}  // namespace
}  // namespace tarncore
