#include "install/rollback.h"

#include <gtest/gtest.h>

#include "install/install_steps.h"
#include "install/layout.h"
#include "install/record.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

using tarntest::file_bytes;
using tarntest::InstallSandbox;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

Error quietly(Error (*action)(const Path&), const Path& source) {
    CaptureStdout();
    Error e = action(source);
    GetCapturedStdout();
    return e;
}

Error install(const Path& source) {
    return quietly([](const Path& p) { return install_runtime(p); }, source);
}

TEST(Rollback, RefusesWithoutAUsableSnapshot) {
    struct Case {
        const char* name;
        void (*prepare)();
        std::string (*message)();
    };
    const Case cases[] = {
        {"first install: nothing noted", [] {},
         [] { return std::string("No previous version is available to roll back"); }},
        {"empty note",
         [] {
             ASSERT_TRUE(ensure_dir(versions_dir()));
             ASSERT_TRUE(write_file(versions_dir() / "previous.txt", ""));
         },
         [] { return std::string("No previous version is available to roll back"); }},
        {"record without a runtime",
         [] {
             ASSERT_TRUE(write_install_record().ok());
             snapshot_installed_runtime(read_installed_version());
             EXPECT_TRUE(path_exists(versions_dir() / "1.2.4"));
             EXPECT_EQ(file_bytes(versions_dir() / "previous.txt"), "1.2.4");
         },
         [] {
             return "Rollback snapshot is missing: " +
                    path_text(versions_dir() / "1.2.4" / "tarn.exe");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstallSandbox box;
        c.prepare();
        CaptureStdout();
        Error e = rollback();
        EXPECT_EQ(GetCapturedStdout(), "");
        EXPECT_EQ(e.code, 10u);
        EXPECT_EQ(e.module, "tarnwick");
        EXPECT_EQ(e.function, "setup");
        EXPECT_EQ(e.message, c.message());
        EXPECT_FALSE(path_exists(bin_dir()));
    }
}

TEST(Rollback, LineEndsAfterTheNotedVersionAreIgnored) {
    for (const char* note : {"1.2.4", "1.2.4\r\n", "1.2.4\n\r\n\r"}) {
        SCOPED_TRACE(testing::PrintToString(note));
        InstallSandbox box;
        ASSERT_TRUE(copy_with_parents(box.make_file("old", "old runtime"),
                                      versions_dir() / "1.2.4" / "tarn.exe"));
        ASSERT_TRUE(write_file(versions_dir() / "previous.txt", note));
        CaptureStdout();
        Error e = rollback();
        std::string printed = GetCapturedStdout();
        ASSERT_TRUE(e.ok()) << e.message;
        EXPECT_EQ(printed.substr(0, printed.find('\n') + 1), "Rolling back to Tarnwick 1.2.4...\n");
        EXPECT_EQ(file_bytes(bin_dir() / "tarn.exe"), "old runtime");
    }
}

// The whole story: a working install, a newer one failing at its last step,
// and the rollback putting the working runtime back.
TEST(Rollback, RestoresThePreviousRuntimeAfterAFailedInstall) {
    InstallSandbox box;
    ASSERT_TRUE(install(box.make_file("v1", "working runtime")).ok());

    tarntest::set_read_only(install_record_path(), true);
    Error failed = install(box.make_file("v2", "broken runtime"));
    tarntest::set_read_only(install_record_path(), false);
    ASSERT_EQ(failed.message, "Could not write install.json");
    ASSERT_EQ(file_bytes(bin_dir() / "tarn.exe"), "broken runtime");
    EXPECT_EQ(file_bytes(versions_dir() / "previous.txt"), "1.2.4");

    CaptureStdout();
    Error e = rollback();
    GetCapturedStdout();
    ASSERT_TRUE(e.ok()) << e.message;
    EXPECT_EQ(file_bytes(bin_dir() / "tarn.exe"), "working runtime");
    EXPECT_EQ(file_bytes(bin_dir() / "tarnwick.exe"), "working runtime");
    // The rerun took no snapshot of the broken runtime over the good one.
    EXPECT_EQ(file_bytes(versions_dir() / "1.2.4" / "tarn.exe"), "working runtime");
    CaptureStdout();
    ASSERT_TRUE(rollback().ok());
    GetCapturedStdout();
    EXPECT_EQ(file_bytes(bin_dir() / "tarn.exe"), "working runtime");
}

TEST(Snapshot, ReinstallingTheSameVersionRefreshesItsSnapshot) {
    InstallSandbox box;
    ASSERT_TRUE(install(box.make_file("a", "first")).ok());
    ASSERT_TRUE(write_file(bin_dir() / "tarn.exe", "installed at that moment"));
    // Stop the next install at step 5, before its own version copy, to see
    // what the snapshot took.
    tarntest::set_read_only(install_record_path(), true);
    Error e = install(box.make_file("b", "second"));
    tarntest::set_read_only(install_record_path(), false);
    ASSERT_FALSE(e.ok());
    EXPECT_EQ(file_bytes(versions_dir() / "1.2.4" / "tarn.exe"), "installed at that moment");
}

}  // namespace
}  // namespace tarncore
