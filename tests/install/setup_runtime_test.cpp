#include "install/setup_runtime.h"

#include <gtest/gtest.h>

#include "support/layout.h"
#include "payload/runtime_payload.h"
#include "tests/common/error_text.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

using tarntest::file_bytes;
using tarntest::InstallSandbox;

const char kEmptyMessage[] =
    "Installer payload is empty. Place tarn.exe next to Tarnwick-Setup.exe or rebuild with an "
    "embedded runtime.";

// Outcome: the error as one line, then the runtime's bytes and where it is.
TEST(SetupRuntime, FindsTheRuntimeBesideTheSetupOrInsideIt) {
    const std::string found = "0  :  ", failed = "10 installer setup: ";
    const std::tuple<bool, std::string, bool, std::string> cases[] = {
        {true, "payload runtime", false, found + "beside runtime, beside"},
        {true, "", false, found + "beside runtime, beside"},
        {false, "payload runtime", false, found + "payload runtime, cache"},
        {false, "", false, failed + kEmptyMessage + " <missing>, untouched"},
        {false, "payload runtime", true,
         failed + "Could not extract bundled runtime <missing>, cache"},
    };
    for (const auto& [beside, payload, cache_is_file, outcome] : cases) {
        SCOPED_TRACE(outcome);
        InstallSandbox box;
        const Path setup_dir = box.scratch() / "download";
        ASSERT_TRUE(ensure_dir(setup_dir));
        if (beside) {
            ASSERT_TRUE(write_file(setup_dir / "tarn.exe", "beside runtime"));
        }
        if (cache_is_file) {
            ASSERT_TRUE(ensure_dir(install_root()));
            ASSERT_TRUE(write_file(cache_dir(), "not a folder"));
        }
        Path runtime = "untouched";
        Error e = locate_setup_runtime(runtime, setup_dir, payload);
        const std::string where = runtime == setup_dir / "tarn.exe" ? "beside"
                                  : runtime == cache_dir() / "bundled-tarn.exe"
                                      ? "cache"
                                      : path_text(runtime);
        EXPECT_EQ(tarntest::error_text(e) + " " + file_bytes(runtime) + ", " + where, outcome);
        // Only an extraction writes into the installation.
        EXPECT_EQ(path_exists(install_root()), !beside && !payload.empty());
    }
}

TEST(SetupRuntime, ExtractionReplacesAnOlderCopy) {
    InstallSandbox box;
    Path runtime;
    ASSERT_TRUE(locate_setup_runtime(runtime, box.scratch(), "a much longer first payload").ok());
    ASSERT_TRUE(locate_setup_runtime(runtime, box.scratch(), "second").ok());
    EXPECT_EQ(file_bytes(runtime), "second");
}

// The test programs are built without an embedded runtime and have no
// tarn.exe beside them.
TEST(SetupRuntime, BuiltWithoutPayloadAndNothingBeside) {
    ASSERT_TRUE(embedded_runtime_payload().empty());
    InstallSandbox box;
    Path runtime;
    EXPECT_EQ(locate_setup_runtime(runtime).message, kEmptyMessage);
    EXPECT_FALSE(path_exists(install_root()));
}

}  // namespace
}  // namespace tarncore
