#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "app/front.h"
#include "tests/common/console_capture.h"
#include "tests/common/test_env.h"

namespace {

// Without LOCALAPPDATA there is no installation to ask about: the banner, the
// report and exit code 1, without a question (what the removal itself leaves
// alone is the install tests' matter).
TEST(Uninstall, WithoutLocalAppDataRefusesWithoutAsking) {
    tarntest::ScopedEnv no_root("LOCALAPPDATA", std::nullopt);
    std::istringstream answer("y\n");
    std::streambuf* old_in = std::cin.rdbuf(answer.rdbuf());
    tarntest::ConsoleCapture console;
    EXPECT_EQ(tarncore::run_uninstall(false), 1);
    std::cin.rdbuf(old_in);
    EXPECT_EQ(console.out(),
              "============================================\n  Tarnwick Setup  1.0.0\n"
              "============================================\n\n");
    EXPECT_EQ(console.err(),
              "Runtime Error\n\nModule: tarnwick\nFunction: setup\n\nError:\n"
              "LOCALAPPDATA is not available\n\n");
}

}  // namespace
