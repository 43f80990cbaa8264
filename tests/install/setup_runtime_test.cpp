#include "install/setup_runtime.h"

#include <gtest/gtest.h>

#include "install/layout.h"
#include "payload/runtime_payload.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

using tarntest::file_bytes;
using tarntest::InstallSandbox;

const char kEmptyMessage[] =
    "Installer payload is empty. Place tarn.exe next to Tarnwick-Setup.exe or rebuild with an "
    "embedded runtime.";

TEST(SetupRuntime, FindsTheRuntimeBesideTheSetupOrInsideIt) {
    struct Case {
        const char* name;
        bool beside;
        std::string payload;
        bool cache_is_file;
        std::string message;         // "" : success
        const char* expected_bytes;  // of the returned runtime
    };
    const Case cases[] = {
        {"beside wins over the payload", true, "payload runtime", false, "", "beside runtime"},
        {"beside, no payload", true, "", false, "", "beside runtime"},
        {"payload extracted", false, "payload runtime", false, "", "payload runtime"},
        {"nothing at all", false, "", false, kEmptyMessage, nullptr},
        {"cache folder is a file", false, "payload runtime", true,
         "Could not extract bundled runtime", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstallSandbox box;
        const Path setup_dir = box.scratch() / "download";
        ASSERT_TRUE(ensure_dir(setup_dir));
        if (c.beside) {
            ASSERT_TRUE(write_file(setup_dir / "tarn.exe", "beside runtime"));
        }
        if (c.cache_is_file) {
            ASSERT_TRUE(ensure_dir(install_root()));
            ASSERT_TRUE(write_file(cache_dir(), "not a folder"));
        }

        Path runtime = "untouched";
        Error e = locate_setup_runtime(runtime, setup_dir, c.payload);
        EXPECT_EQ(e.message, c.message);
        if (c.message.empty()) {
            EXPECT_TRUE(e.ok());
            EXPECT_EQ(file_bytes(runtime), c.expected_bytes);
            // Only an extraction writes into the installation.
            EXPECT_EQ(path_exists(install_root()), !c.beside);
        } else {
            EXPECT_EQ(e.code, 10u);
            EXPECT_EQ(e.module, "installer");
            EXPECT_EQ(e.function, "setup");
        }
        if (c.message == kEmptyMessage) {
            EXPECT_EQ(runtime, Path("untouched"));
            EXPECT_FALSE(path_exists(install_root()));
        }
        if (!c.beside && (c.message.empty() || c.cache_is_file)) {
            EXPECT_EQ(runtime, cache_dir() / "bundled-tarn.exe");
        }
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
