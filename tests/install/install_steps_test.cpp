#include "install/install_steps.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "install/layout.h"
#include "install/modules.h"
#include "install/record.h"
#include "install/user_path.h"
#include "tests/common/child_process.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

namespace fs = std::filesystem;
using tarntest::file_bytes;
using tarntest::InstallSandbox;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

std::string step_lines() {
    return "  [1/5] Runtime -> " + path_text(bin_dir() / "tarn.exe") +
           "\n  [2/5] CLI alias tarnwick.exe\n  [3/5] Tarnwick module\n  [4/5] PATH\n"
           "  [5/5] Config\n";
}

Error install_quietly(const Path& source, std::string* out = nullptr) {
    CaptureStdout();
    Error e = install_runtime(source);
    std::string printed = GetCapturedStdout();
    if (out) *out = printed;
    return e;
}

TEST(InstallRuntime, PlacesEverythingAndAnnouncesEachStepEveryTime) {
    InstallSandbox box;
    const Path source = box.make_file("runtime.bin", "runtime v1");
    for (int run = 0; run < 2; ++run) {
        std::string printed;
        Error e = install_quietly(source, &printed);
        ASSERT_TRUE(e.ok()) << e.message;
        EXPECT_EQ(printed, step_lines()) << "run " << run;
    }
    EXPECT_EQ(file_bytes(bin_dir() / "tarn.exe"), "runtime v1");
    EXPECT_EQ(file_bytes(bin_dir() / "tarnwick.exe"), "runtime v1");
    EXPECT_EQ(file_bytes(versions_dir() / "1.2.4" / "tarn.exe"), "runtime v1");
    EXPECT_FALSE(path_exists(bin_dir() / "tarn.exe.new"));
    EXPECT_FALSE(path_exists(bin_dir() / "tarn.exe.old"));
    EXPECT_TRUE(is_installed());
    EXPECT_EQ(read_installed_version(), "1.2.4");
    EXPECT_TRUE(path_exists(logs_dir()));
    EXPECT_TRUE(path_exists(cache_dir()));
    EXPECT_TRUE(path_list_contains(box.user_path(), bin_dir().native()));
}

TEST(InstallRuntime, RefusesWithoutTouchingAnything) {
    struct Case {
        const char* name;
        bool unset_local_app_data;
        bool existing_install;
        std::string message;  // "" : the missing-source message
    };
    const Case cases[] = {
        {"no LOCALAPPDATA", true, false, "LOCALAPPDATA is not available"},
        {"missing source, fresh", false, false, ""},
        {"missing source over an install", false, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstallSandbox box;
        if (c.existing_install) {
            ASSERT_TRUE(install_quietly(box.make_file("v1", "v1")).ok());
        }
        const Path missing = box.scratch() / "nowhere" / "tarn.exe";
        std::optional<tarntest::ScopedEnv> unset;
        if (c.unset_local_app_data) unset.emplace("LOCALAPPDATA", std::nullopt);

        std::string printed;
        Error e = install_quietly(missing, &printed);
        EXPECT_EQ(e.code, 10u);
        EXPECT_EQ(e.module, "tarnwick");
        EXPECT_EQ(e.function, "setup");
        EXPECT_EQ(e.message, c.message.empty() ? "Runtime payload is missing: " + path_text(missing)
                                               : c.message);
        EXPECT_EQ(printed, "");
        unset.reset();
        // No snapshot either: the version folder of the earlier install holds
        // only what that install put there.
        EXPECT_FALSE(path_exists(versions_dir() / "previous.txt"));
        EXPECT_EQ(path_exists(install_root()), c.existing_install);
    }
}

TEST(PlaceFile, ReadOnlyFolderNamesTheFile) {
    InstallSandbox box;
    const Path folder = box.scratch() / "locked";
    ASSERT_TRUE(ensure_dir(folder));
    tarntest::set_read_only(folder, true);
    Error e = place_file(box.make_file("src", "bytes"), folder / "tarn.exe");
    tarntest::set_read_only(folder, false);
    EXPECT_EQ(e.message, "Could not install tarn.exe");
    EXPECT_EQ(e.code, 10u);
    EXPECT_FALSE(path_exists(folder / "tarn.exe"));
}

TEST(PlaceFile, StaleNewFileIsOverwritten) {
    InstallSandbox box;
    const Path target = box.scratch() / "bin" / "tarn.exe";
    ASSERT_TRUE(ensure_dir(target.parent_path()));
    ASSERT_TRUE(write_file(target.parent_path() / "tarn.exe.new", "stale from last time"));
    ASSERT_TRUE(place_file(box.make_file("src", "fresh"), target).ok());
    EXPECT_EQ(file_bytes(target), "fresh");
    EXPECT_FALSE(path_exists(target.parent_path() / "tarn.exe.new"));
}

// A target that can be neither overwritten nor moved aside: a folder in its
// place, and a folder where it would be moved to.
TEST(PlaceFile, UnswappableTargetLeavesTheNewFileForTheUser) {
    InstallSandbox box;
    const Path bin = box.scratch() / "bin";
    const Path target = bin / "tarn.exe";
    ASSERT_TRUE(ensure_dir(target / "inside"));
    ASSERT_TRUE(ensure_dir(bin / "tarn.exe.old" / "inside"));
    Error e = place_file(box.make_file("src", "fresh"), target);
    EXPECT_EQ(e.message, "Could not replace " + path_text(target) +
                             " (file is in use). Close running bots, then copy " +
                             path_text(bin / "tarn.exe.new") + " over it.");
    EXPECT_EQ(file_bytes(bin / "tarn.exe.new"), "fresh");
    EXPECT_TRUE(fs::is_directory(target));
}

TEST(PlaceFile, ReplacesARunningRuntime) {
    InstallSandbox box;
    const Path target = box.scratch() / "bin" / "tarn.exe";
    ASSERT_TRUE(copy_with_parents(tarntest::test_tool("test_runtime"), target));
    tarntest::ChildProcess bot;
    ASSERT_TRUE(bot.start(target, {"--stay", "30"}));
    ASSERT_TRUE(bot.running());

    ASSERT_TRUE(place_file(box.make_file("src", "new runtime"), target).ok());
    EXPECT_TRUE(bot.running());
    EXPECT_EQ(file_bytes(target), "new runtime");
    EXPECT_FALSE(path_exists(target.parent_path() / "tarn.exe.new"));
    const Path old = target.parent_path() / "tarn.exe.old";
    EXPECT_TRUE(!path_exists(old) || tarntest::deletion_scheduled(old));
    bot.kill();
}

TEST(InstallRuntime, FailureAtALaterStepKeepsTheEarlierSteps) {
    InstallSandbox box;
    ASSERT_TRUE(install_quietly(box.make_file("v1", "runtime v1")).ok());
    tarntest::set_read_only(install_record_path(), true);
    Error e = install_quietly(box.make_file("v2", "runtime v2"));
    tarntest::set_read_only(install_record_path(), false);
    EXPECT_EQ(e.message, "Could not write install.json");
    EXPECT_EQ(file_bytes(bin_dir() / "tarn.exe"), "runtime v2");
    EXPECT_EQ(file_bytes(bin_dir() / "tarnwick.exe"), "runtime v2");
    // Step 10 never ran: the version copy is still the earlier runtime.
    EXPECT_EQ(file_bytes(versions_dir() / "1.2.4" / "tarn.exe"), "runtime v1");
}

}  // namespace
}  // namespace tarncore
