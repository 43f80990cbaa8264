#include "install/rollback.h"

#include <gtest/gtest.h>

#include "install/install_steps.h"
#include "support/json.h"
#include "support/layout.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

using tarntest::file_bytes;
using tarntest::InstallSandbox;
using tarntest::quietly;

TEST(Rollback, NeedsAUsableSnapshot) {
    const std::string none = "No previous version is available to roll back";
    const std::tuple<const char*, bool, std::string> cases[] = {
        // versions\previous.txt (nullptr: none), whether versions\1.2.4\tarn.exe exists, the error
        {nullptr, true, none},
        {"", true, none},
        {"1.2.4", false, "Rollback snapshot is missing: "},
        {"1.2.4\n\r\n\r", true, ""}};
    for (const auto& [note, snapshot, error] : cases) {
        InstallSandbox box;
        const Path copy = versions_dir() / "1.2.4" / "tarn.exe";
        ASSERT_TRUE(ensure_dir(copy.parent_path()) && (!snapshot || write_file(copy, "old")));
        ASSERT_TRUE(!note || write_file(versions_dir() / "previous.txt", note));
        const std::string got = quietly(rollback);
        if (error.empty()) {
            EXPECT_EQ(got.substr(0, 42), "0  :  | Rolling back to Tarnwick 1.2.4...\n");
        } else {
            EXPECT_EQ(got,
                      "10 tarnwick setup: " + error + (snapshot ? "" : path_text(copy)) + " | ");
        }
        EXPECT_EQ(file_bytes(bin_dir() / "tarn.exe"), error.empty() ? "old" : "<missing>");
    }
}

// A working install, a newer one failing at its last step (step 5), and the
// rollback putting the working runtime back.
TEST(Rollback, RestoresThePreviousRuntimeAfterAFailedInstall) {
    InstallSandbox box;
    ASSERT_TRUE(quietly([&] { return install_runtime(box.make_file("v1", "first")); })[0] == '0');
    // The snapshot takes what is installed at that moment.
    ASSERT_TRUE(write_file(bin_dir() / "tarn.exe", "working runtime"));
    tarntest::set_read_only(install_record_path(), true);
    const Path broken = box.make_file("v2", "broken runtime");
    const std::string failed = quietly([&] { return install_runtime(broken); });
    tarntest::set_read_only(install_record_path(), false);
    ASSERT_EQ(failed.substr(0, failed.find(" |")),
              "10 tarnwick setup: Could not write install.json");
    EXPECT_EQ(file_bytes(versions_dir() / "previous.txt"), "1.2.4");
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(quietly(rollback)[0], '0') << "run " << run;
        for (const char* name : {"tarn.exe", "tarnwick.exe"}) {
            EXPECT_EQ(file_bytes(bin_dir() / name), "working runtime");
        }
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
        Json record;
        record["version"] = version;
        ASSERT_TRUE(copy_with_parents(box.make_file("old", "old"), bin_dir() / "tarn.exe"));
        ASSERT_TRUE(ensure_dir(config_dir()) &&
                    write_file(install_record_path(), record.dump(false)));
        const std::string refused = "\"" + version + "\" is not a version";
        EXPECT_EQ(snapshot_installed_runtime(version).message,
                  "No rollback snapshot taken: " + refused);
        ASSERT_EQ(quietly([&] { return install_runtime(box.make_file("new", "new")); })[0], '0');
        EXPECT_FALSE(path_exists(elsewhere));

        ASSERT_TRUE(copy_with_parents(box.make_file("foreign", "foreign"), elsewhere / "tarn.exe"));
        ASSERT_TRUE(write_file(versions_dir() / "previous.txt", version));
        EXPECT_EQ(quietly(rollback), "10 tarnwick setup: Rollback refused: " + refused + " | ");
        EXPECT_EQ(file_bytes(bin_dir() / "tarn.exe"), "new");
    }
}

}  // namespace
}  // namespace tarncore
