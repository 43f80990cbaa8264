#include <gtest/gtest.h>

#include "support/child_process.h"
#include "support/layout.h"
#include "install/removal.h"
#include "install/user_path.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

// Windows keeps a running program's file; the removal fails after its
// retries, with the PATH entry already gone and no way back.
TEST(Removal, RunningRuntimeStopsItAfterThePathEntryIsGone) {
    tarntest::InstallSandbox box;
    ASSERT_TRUE(add_to_user_path(box.bin.native()).ok());
    const Path runtime = box.bin / "tarn.exe";
    ASSERT_TRUE(copy_with_parents(tarntest::test_tool("test_runtime"), runtime));
    ASSERT_TRUE(copy_with_parents(runtime, box.config / "install.json"));
    ChildProcess bot;
    Error error;
    ChildProcess::start(bot, error, runtime, {L"--stay", L"30"}, {}, false);
    ASSERT_TRUE(error.ok()) << error.message;

    EXPECT_EQ(tarntest::error_text(remove_installation(box)),
              "10 tarnwick setup: Could not remove " + path_text(box.root));
    EXPECT_FALSE(path_list_contains(box.user_path(), box.bin.native()));
    EXPECT_TRUE(path_exists(runtime));

    ChildProcess::terminate(bot);
    EXPECT_TRUE(remove_installation(box).ok());
    EXPECT_FALSE(path_exists(box.root));
}

}  // namespace
}  // namespace tarncore
