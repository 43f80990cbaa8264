#include "install/setup_runtime.h"

#include <gtest/gtest.h>

#include "payload/runtime_payload.h"
#include "support/layout.h"
#include "tests/common/error_text.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

using tarntest::file_bytes;
using tarntest::InstallSandbox;

const std::string kEmptyMessage =
    "Installer payload is empty. Place tarn.exe next to Tarnwick-Setup.exe or rebuild with an "
    "embedded runtime.";

TEST(SetupRuntime, FindsTheRuntimeBesideTheSetupOrInsideIt) {
    struct Case {
        bool beside;          // a tarn.exe in the setup's folder, the current folder
        const char* payload;  // the built-in runtime
        bool setup_known;     // false: executable_path() was empty
        bool cache_is_file;
        std::string outcome;  // the error as one line, the runtime's bytes, where it is
    };
    const std::string found = "0  : ", failed = "10 installer setup: ";
    const Case cases[] = {
        {true, "payload runtime", true, false, found + " beside runtime, beside"},
        {true, "", true, false, found + " beside runtime, beside"},
        {false, "payload runtime", true, false, found + " payload runtime, cache"},
        {false, "", true, false, failed + kEmptyMessage + " <missing>, untouched"},
        {false, "payload runtime", true, true,
         failed + "Could not extract bundled runtime <missing>, cache"},
        {true, "", false, false, failed + kEmptyMessage + " <missing>, untouched"},
        {true, "payload runtime", false, false, found + " payload runtime, cache"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outcome);
        InstallSandbox box;
        const Path setup_dir = box.scratch() / "download";
        ASSERT_TRUE(ensure_dir(setup_dir));
        if (c.beside) {
            ASSERT_TRUE(write_file(setup_dir / "tarn.exe", "beside runtime"));
        }
        if (c.cache_is_file) {
            ASSERT_TRUE(ensure_dir(install_root()) && write_file(cache_dir(), "file"));
        }
        tarntest::ScopedCurrentDir cwd(setup_dir);
        Path runtime = "untouched";
        Error e = locate_setup_runtime(runtime, c.setup_known ? setup_dir : Path(), c.payload);
        const std::string where = runtime == setup_dir / "tarn.exe" ? "beside"
                                  : runtime == cache_dir() / "bundled-tarn.exe"
                                      ? "cache"
                                      : path_text(runtime);
        EXPECT_EQ(tarntest::error_text(e) + " " + file_bytes(runtime) + ", " + where, c.outcome);
        EXPECT_EQ(path_exists(install_root()), c.outcome.find("cache") != std::string::npos);
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
