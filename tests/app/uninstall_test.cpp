#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>

#include "app/front.h"
#include "support/layout.h"
#include "tests/common/console_capture.h"
#include "tests/common/test_env.h"

namespace {

namespace fs = std::filesystem;

// Without LOCALAPPDATA every folder name would be relative to the current
// folder: an installation there is neither asked about nor removed.
TEST(Uninstall, WithoutLocalAppDataRefusesAndTouchesNothing) {
    tarntest::TempDir here;
    fs::create_directories(here.path() / "bin");
    fs::create_directories(here.path() / "modules" / "discord");
    ASSERT_TRUE(tarncore::write_file(here.path() / "bin" / "tarn.exe", ""));
    ASSERT_TRUE(tarncore::write_file(here.path() / "modules" / "discord" / "init.lua", ""));
    const fs::path old_current = fs::current_path();
    fs::current_path(here.path());
    tarntest::ScopedEnv no_root("LOCALAPPDATA", std::nullopt);
    std::istringstream answer("y\n");
    std::streambuf* old_in = std::cin.rdbuf(answer.rdbuf());
    int code = 0;
    std::string out, err;
    {
        tarntest::ConsoleCapture console;
        code = tarncore::run_uninstall(false);
        out = console.out();
        err = console.err();
    }
    std::cin.rdbuf(old_in);
    fs::current_path(old_current);

    EXPECT_EQ(code, 1);
    EXPECT_EQ(out,
              "============================================\n  Tarnwick Setup  1.0.0\n"
              "============================================\n\n");
    EXPECT_EQ(err,
              "Runtime Error\n\nModule: tarnwick\nFunction: setup\n\nError:\n"
              "LOCALAPPDATA is not available\n\n");
    EXPECT_TRUE(fs::exists(here.path() / "bin" / "tarn.exe"));
    EXPECT_TRUE(fs::exists(here.path() / "modules" / "discord" / "init.lua"));
}

}  // namespace
