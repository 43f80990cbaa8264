#include <gtest/gtest.h>

#include "install/install_steps.h"
#include "install/layout.h"
#include "install/removal.h"
#include "install/user_path.h"
#include "tests/common/child_process.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

// Windows refuses to overwrite a running program's file but lets it be
// renamed; the renamed file stays until the program ends, so its deletion is
// left for the next restart.
TEST(InstallRuntime, RunningRuntimeIsReplacedThroughTheRenamePath) {
    tarntest::InstallSandbox box;
    const Path runtime = bin_dir() / "tarn.exe";
    ASSERT_TRUE(copy_with_parents(tarntest::test_tool("test_runtime"), runtime));
    tarntest::ChildProcess bot;
    ASSERT_TRUE(bot.start(runtime, {"--stay", "30"}));

    testing::internal::CaptureStdout();
    Error e = install_runtime(box.make_file("new", "new runtime"));
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(e.ok()) << e.message;
    EXPECT_TRUE(bot.running());
    EXPECT_EQ(tarntest::file_bytes(runtime), "new runtime");
    EXPECT_FALSE(path_exists(bin_dir() / "tarn.exe.new"));
    const Path old = bin_dir() / "tarn.exe.old";
    EXPECT_TRUE(path_exists(old));
    EXPECT_TRUE(tarntest::deletion_scheduled(old));
    bot.kill();
}

// Windows keeps a running program's file; the removal fails after its
// retries, with the PATH entry already gone and no way back.
TEST(Removal, RunningRuntimeStopsItAfterThePathEntryIsGone) {
    tarntest::InstallSandbox box;
    ASSERT_TRUE(add_to_user_path(bin_dir().native()).ok());
    const Path runtime = bin_dir() / "tarn.exe";
    ASSERT_TRUE(copy_with_parents(tarntest::test_tool("test_runtime"), runtime));
    ASSERT_TRUE(copy_with_parents(runtime, config_dir() / "install.json"));
    tarntest::ChildProcess bot;
    ASSERT_TRUE(bot.start(runtime, {"--stay", "30"}));

    Error e = remove_installation();
    EXPECT_EQ(e.code, 10u);
    EXPECT_EQ(e.message, "Could not remove " + path_text(install_root()));
    EXPECT_FALSE(path_list_contains(box.user_path(), bin_dir().native()));
    EXPECT_TRUE(path_exists(runtime));

    bot.kill();
    EXPECT_TRUE(remove_installation().ok());
    EXPECT_FALSE(path_exists(install_root()));
}

}  // namespace
}  // namespace tarncore
