#include "install/rollback.h"

#include <gtest/gtest.h>

#include "install/install_steps.h"
#include "support/layout.h"
#include "install/record.h"
#include "tests/common/error_text.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

using tarntest::file_bytes;
using tarntest::InstallSandbox;

// The error as one line, then what was printed.
std::string quietly(Error (*action)()) {
    testing::internal::CaptureStdout();
    const std::string error = tarntest::error_text(action());
    return error + " | " + testing::internal::GetCapturedStdout();
}

TEST(Rollback, NeedsAUsableSnapshot) {
    const std::string none = "10 tarnwick setup: No previous version is available to roll back | ";
    const std::string restored = "0  :  | Rolling back to Tarnwick 1.2.4...\n";
    struct Case {
        const char* note;  // nullptr : no previous.txt
        bool snapshot;
        std::string outcome;  // "missing" : the missing-snapshot error
    };
    const Case cases[] = {
        {nullptr, true, none},         {"", true, none},
        {"1.2.4", false, "missing"},   {"1.2.4", true, restored},
        {"1.2.4\r\n", true, restored}, {"1.2.4\n\r\n\r", true, restored},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.note ? c.note : "no note"));
        InstallSandbox box;
        ASSERT_TRUE(ensure_dir(versions_dir() / "1.2.4"));
        if (c.note) {
            ASSERT_TRUE(write_file(versions_dir() / "previous.txt", c.note));
        }
        const Path snapshot = versions_dir() / "1.2.4" / "tarn.exe";
        if (c.snapshot) {
            ASSERT_TRUE(write_file(snapshot, "old runtime"));
        }
        const std::string outcome = quietly(rollback);
        if (c.outcome == restored) {
            EXPECT_EQ(outcome.substr(0, restored.size()), restored);
            EXPECT_EQ(file_bytes(bin_dir() / "tarn.exe"), "old runtime");
        } else {
            EXPECT_EQ(outcome, c.outcome == "missing"
                                   ? "10 tarnwick setup: Rollback snapshot is missing: " +
                                         path_text(snapshot) + " | "
                                   : c.outcome);
            EXPECT_FALSE(path_exists(bin_dir()));
        }
    }
}

// A working install, a newer one failing at its last step (step 5), and the
// rollback putting the working runtime back.
TEST(Rollback, RestoresThePreviousRuntimeAfterAFailedInstall) {
    InstallSandbox box;
    static Path source;
    source = box.make_file("v1", "first");
    auto install = [] { return install_runtime(source); };
    ASSERT_EQ(quietly(install).substr(0, 7), "0  :  |");
    // The snapshot takes what is installed at that moment.
    ASSERT_TRUE(write_file(bin_dir() / "tarn.exe", "working runtime"));

    tarntest::set_read_only(install_record_path(), true);
    source = box.make_file("v2", "broken runtime");
    const std::string failed = quietly(install);
    tarntest::set_read_only(install_record_path(), false);
    ASSERT_EQ(failed.substr(0, failed.find(" |")),
              "10 tarnwick setup: Could not write install.json");
    EXPECT_EQ(file_bytes(bin_dir() / "tarnwick.exe"), "broken runtime");
    EXPECT_EQ(file_bytes(versions_dir() / "previous.txt"), "1.2.4");

    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(quietly(rollback).substr(0, 7), "0  :  |") << "run " << run;
        EXPECT_EQ(file_bytes(bin_dir() / "tarn.exe"), "working runtime");
        EXPECT_EQ(file_bytes(bin_dir() / "tarnwick.exe"), "working runtime");
        EXPECT_EQ(file_bytes(versions_dir() / "1.2.4" / "tarn.exe"), "working runtime");
    }
}

}  // namespace
}  // namespace tarncore
