#include "install/install_steps.h"

#include <gtest/gtest.h>

#include "install/modules.h"
#include "install/record.h"
#include "install/removal.h"
#include "install/rollback.h"
#include "install/setup_runtime.h"
#include "install/user_path.h"
#include "payload/module_table.h"
#include "support/layout.h"
#include "tests/common/child_process.h"
#include "tests/common/error_text.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

using tarntest::file_bytes;
using tarntest::InstallSandbox;

Error install_quietly(const Path& source, std::string* out = nullptr) {
    testing::internal::CaptureStdout();
    Error e = install_runtime(source);
    std::string printed = testing::internal::GetCapturedStdout();
    if (out) *out = printed;
    return e;
}

TEST(InstallRuntime, PlacesEverythingAndAnnouncesEachStepEveryTime) {
    InstallSandbox box;
    const Path source = box.make_file("runtime.bin", "runtime v1");
    for (int run = 0; run < 2; ++run) {
        std::string printed;
        ASSERT_EQ(tarntest::error_text(install_quietly(source, &printed)), "0  : ");
        EXPECT_EQ(printed, "  [1/5] Runtime -> " + path_text(bin_dir() / "tarn.exe") +
                               "\n  [2/5] CLI alias tarnwick.exe\n  [3/5] Tarnwick module\n"
                               "  [4/5] PATH\n  [5/5] Config\n");
    }
    for (const Path& copy : {bin_dir() / "tarn.exe", bin_dir() / "tarnwick.exe",
                             versions_dir() / "1.2.4" / "tarn.exe"}) {
        EXPECT_EQ(file_bytes(copy), "runtime v1") << copy;
    }
    std::set<std::string> modules;
    for (const ModuleEntry& m : kModuleTable) {
        modules.insert(m.path);
        EXPECT_EQ(file_bytes(modules_dir() / Path(m.path).make_preferred()),
                  file_bytes(tarntest::source_path(std::string("payload/lua/") + m.path)));
    }
    EXPECT_EQ(tarntest::files_below(modules_dir()), modules);
    EXPECT_EQ(tarntest::files_below(versions_dir() / "1.2.4" / "modules"), modules);
    EXPECT_TRUE(is_installed() && path_exists(logs_dir()) && path_exists(cache_dir()));
    EXPECT_TRUE(path_list_contains(box.user_path(), bin_dir().native()));
    EXPECT_FALSE(path_exists(bin_dir() / "tarn.exe.new"));
}

// Nothing printed, created or snapshotted.
TEST(InstallRuntime, MissingRuntimeTouchesNothing) {
    for (bool installed : {false, true}) {
        InstallSandbox box;
        if (installed) {
            ASSERT_TRUE(install_quietly(box.make_file("v1", "v1")).ok());
        }
        const Path missing = box.scratch() / "nowhere" / "tarn.exe";
        std::string printed;
        EXPECT_EQ(install_quietly(missing, &printed).message,
                  "Runtime payload is missing: " + path_text(missing));
        EXPECT_EQ(printed, "");
        EXPECT_FALSE(path_exists(versions_dir() / "previous.txt"));
        EXPECT_EQ(path_exists(install_root()), installed);
    }
}

// With LOCALAPPDATA unset every installation path would be relative to the
// current folder: each operation refuses, and that folder and the PATH stay.
TEST(Installation, WithoutLocalAppDataNothingIsTouched) {
    InstallSandbox box;
    const Path here = box.scratch() / "here", source = box.make_file("src", "runtime");
    for (const char* rel :
         {"Tarnwick/bin/tarn.exe", "bin/tarn.exe", "tarn.exe", "versions/1.2.4/tarn.exe"}) {
        ASSERT_TRUE(copy_with_parents(source, here / Path(rel)));
    }
    ASSERT_TRUE(write_file(here / "versions" / "previous.txt", "1.2.4"));
    ASSERT_TRUE(add_to_user_path(NativeString(Path("bin").native())).ok());
    const NativeString user_path = box.user_path();
    const std::set<std::string> files = tarntest::files_below(here);
    tarntest::ScopedCurrentDir cwd(here);
    tarntest::ScopedEnv unset("LOCALAPPDATA", std::nullopt);
    Path runtime;
    for (const Error& e : {install_quietly(source), rollback(), remove_installation(),
                           locate_setup_runtime(runtime, Path(), "payload")}) {
        EXPECT_EQ(e.message, "LOCALAPPDATA is not available");
    }
    EXPECT_EQ(tarntest::files_below(here), files);
    EXPECT_EQ(box.user_path(), user_path);
}

TEST(PlaceFile, FailuresNameTheFileAndStaleCopiesAreOverwritten) {
    struct Case {
        const char* name;
        void (*prepare)(const Path& bin);
        const char* message;  // "in use": the replace message
        const char* target;   // bytes left at bin/tarn.exe; nullptr: a folder
        const char* fresh;    // bytes left at bin/tarn.exe.new
    };
    const Case cases[] = {
        {"read-only folder", [](const Path& bin) { tarntest::set_read_only(bin, true); },
         "Could not install tarn.exe", "<missing>", "<missing>"},
        {"stale .new",
         [](const Path& bin) { ASSERT_TRUE(write_file(bin / "tarn.exe.new", "stale")); }, "",
         "fresh", "<missing>"},
        // Neither overwritten nor moved aside: folders in both places.
        {"unswappable target",
         [](const Path& bin) {
             ASSERT_TRUE(ensure_dir(bin / "tarn.exe" / "in") &&
                         ensure_dir(bin / "tarn.exe.old" / "in"));
         },
         "in use", nullptr, "fresh"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstallSandbox box;
        const Path bin = box.scratch() / "bin";
        ASSERT_TRUE(ensure_dir(bin));
        c.prepare(bin);
        Error e = place_file(box.make_file("src", "fresh"), bin / "tarn.exe");
        tarntest::set_read_only(bin, false);
        const std::string in_use = "Could not replace " + path_text(bin / "tarn.exe") +
                                   " (file is in use). Close running bots, then copy " +
                                   path_text(bin / "tarn.exe.new") + " over it.";
        EXPECT_EQ(e.message, c.message == std::string("in use") ? in_use : c.message);
        EXPECT_EQ(c.target ? file_bytes(bin / "tarn.exe") : "", c.target ? c.target : "");
        EXPECT_EQ(file_bytes(bin / "tarn.exe.new"), c.fresh);
    }
}

// Windows refuses to overwrite a running program's file but lets it be
// renamed; the renamed file stays until the program ends.
TEST(InstallRuntime, ReplacesARunningRuntime) {
    InstallSandbox box;
    const Path runtime = bin_dir() / "tarn.exe";
    ASSERT_TRUE(copy_with_parents(tarntest::test_tool("test_runtime"), runtime));
    tarntest::ChildProcess bot;
    ASSERT_TRUE(bot.start(runtime, {"--stay", "30"}));
    ASSERT_TRUE(bot.running());

    ASSERT_EQ(tarntest::error_text(install_quietly(box.make_file("src", "new runtime"))), "0  : ");
    EXPECT_TRUE(bot.running());
    EXPECT_EQ(file_bytes(runtime), "new runtime");
    EXPECT_FALSE(path_exists(bin_dir() / "tarn.exe.new"));
    const Path old = bin_dir() / "tarn.exe.old";
    EXPECT_TRUE(!path_exists(old) || tarntest::deletion_scheduled(old));
    bot.kill();
}

}  // namespace
}  // namespace tarncore
