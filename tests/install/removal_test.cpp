#include "install/removal.h"

#include <gtest/gtest.h>

#include "install/user_path.h"
#include "support/layout.h"
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

// A folder link inside the installation, a file link, and an installation
// folder that is itself a link. Natively these are symbolic links, which
// the removal sees and deletes as links; under Wine they are Unix links that
// show as plain folders and files: the folders are left alone and named.
TEST(Removal, NeverReachesOutsideThroughLinks) {
    for (bool root_is_link : {false, true}) {
        SCOPED_TRACE(root_is_link ? "root is a link" : "links inside");
        InstallSandbox box;
        const Path outside = box.scratch() / "outside";
        ASSERT_TRUE(copy_with_parents(box.make_file("f", "keep"), outside / "keep.txt"));
        const Path link = root_is_link ? install_root() : cache_dir() / "dirlink";
        ASSERT_TRUE(ensure_dir(root_is_link ? box.local_app_data() : cache_dir()));
        ASSERT_TRUE(tarntest::make_link(link, outside));
        if (!root_is_link) {
            ASSERT_TRUE(ensure_dir(bin_dir()) && write_file(bin_dir() / "tarn.exe", "runtime"));
            ASSERT_TRUE(tarntest::make_link(bin_dir() / "filelink", outside / "keep.txt"));
        }
        const bool seen_as_link = file_kind(link) == FileKind::Link;

        const Error e = remove_installation();
        EXPECT_EQ(tarntest::files_below(outside), std::set<std::string>{"keep.txt"});
        EXPECT_EQ(tarntest::file_bytes(outside / "keep.txt"), "keep");
        const std::string root = path_text(install_root());
        if (root_is_link) {
            EXPECT_EQ(e.message, "Could not remove " + root + " (" + root +
                                     " is a link; nothing was deleted)");
        } else if (seen_as_link) {
            EXPECT_TRUE(e.ok()) << e.message;
            EXPECT_FALSE(path_exists(install_root()));
        } else {
            EXPECT_EQ(e.message, "Could not remove " + root + " (" + path_text(link) +
                                     " leads outside " + root + " and was left alone)");
            EXPECT_FALSE(path_exists(bin_dir()));
        }
    }
}

}  // namespace
}  // namespace tarncore
