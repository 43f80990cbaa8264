#include "install/rollback.h"

#include <gtest/gtest.h>

#include "install/install_steps.h"
#include "support/json.h"
#include "support/layout.h"
#include "tests/common/error_text.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

using tarntest::file_bytes;
using tarntest::InstallSandbox;

// The error as one line, then what was printed.
template <typename Action>
std::string quietly(Action action) {
    testing::internal::CaptureStdout();
    const std::string error = tarntest::error_text(action());
    return error + " | " + testing::internal::GetCapturedStdout();
}

TEST(Rollback, NeedsAUsableSnapshot) {
    struct Case {
        const char* note;  // versions\previous.txt; nullptr: none
        bool snapshot;     // versions\1.2.4\tarn.exe exists
        const char* outcome;
    };
    const Case cases[] = {
        {nullptr, true, "No previous version is available to roll back"},
        {"", true, "No previous version is available to roll back"},
        {"1.2.4", false, "Rollback snapshot is missing: "},
        {"1.2.4", true, "restored"},
        {"1.2.4\r\n", true, "restored"},
        {"1.2.4\n\r\n\r", true, "restored"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.note ? c.note : "no note"));
        InstallSandbox box;
        const Path snapshot = versions_dir() / "1.2.4" / "tarn.exe";
        ASSERT_TRUE(ensure_dir(snapshot.parent_path()));
        if (c.note) {
            ASSERT_TRUE(write_file(versions_dir() / "previous.txt", c.note));
        }
        if (c.snapshot) {
            ASSERT_TRUE(write_file(snapshot, "old runtime"));
        }
        const std::string outcome = quietly(rollback);
        if (c.outcome == std::string("restored")) {
            EXPECT_EQ(outcome.substr(0, 42), "0  :  | Rolling back to Tarnwick 1.2.4...\n");
            EXPECT_EQ(file_bytes(bin_dir() / "tarn.exe"), "old runtime");
            continue;
        }
        const std::string missing = c.snapshot ? "" : path_text(snapshot);
        EXPECT_EQ(outcome, "10 tarnwick setup: " + std::string(c.outcome) + missing + " | ");
        EXPECT_FALSE(path_exists(bin_dir()));
    }
}

// A working install, a newer one failing at its last step (step 5), and the
// rollback putting the working runtime back.
TEST(Rollback, RestoresThePreviousRuntimeAfterAFailedInstall) {
    InstallSandbox box;
    ASSERT_EQ(quietly([&] { return install_runtime(box.make_file("v1", "first")); }).substr(0, 7),
              "0  :  |");
    // The snapshot takes what is installed at that moment.
    ASSERT_TRUE(write_file(bin_dir() / "tarn.exe", "working runtime"));

    tarntest::set_read_only(install_record_path(), true);
    const Path broken = box.make_file("v2", "broken runtime");
    const std::string failed = quietly([&] { return install_runtime(broken); });
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

// A version from the record or from previous.txt that would lead out of
// versions\: the install goes on without a snapshot, the rollback refuses,
// and a tarn.exe waiting where the version leads is never installed.
TEST(Rollback, VersionsThatLeadElsewhereAreRefused) {
    InstallSandbox box;
    const std::string absolute = path_text(box.scratch() / "escaped");
    for (const std::string version :
         {"../../escaped", absolute.c_str(), "1.2.4/../../../other", "1.0:x"}) {
        SCOPED_TRACE(version);
        const Path elsewhere = versions_dir() / native_from_text(version);
        ASSERT_TRUE(copy_with_parents(box.make_file("old", "old"), bin_dir() / "tarn.exe"));
        Json record;
        record["version"] = version;
        ASSERT_TRUE(ensure_dir(config_dir()) &&
                    write_file(install_record_path(), record.dump(false)));
        const std::string refused = "\"" + version + "\" is not a version";
        EXPECT_EQ(snapshot_installed_runtime(version).message,
                  "No rollback snapshot taken: " + refused);
        EXPECT_EQ(
            quietly([&] { return install_runtime(box.make_file("new", "new")); }).substr(0, 7),
            "0  :  |");
        EXPECT_FALSE(path_exists(elsewhere));

        ASSERT_TRUE(copy_with_parents(box.make_file("foreign", "foreign"), elsewhere / "tarn.exe"));
        ASSERT_TRUE(write_file(versions_dir() / "previous.txt", version));
        EXPECT_EQ(quietly(rollback), "10 tarnwick setup: Rollback refused: " + refused + " | ");
        EXPECT_EQ(file_bytes(bin_dir() / "tarn.exe"), "new");
    }
}

}  // namespace
}  // namespace tarncore
