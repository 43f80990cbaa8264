#include <gtest/gtest.h>

#include <ostream>

#include "support/layout.h"
#include "support/output.h"
#include "tests/common/console_capture.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

// How the console reaches the log (redraws, padding, what came before the
// file opened, log lines cutting a line under way) the end-to-end scenarios
// compare whole; what they never reach: a log past 1 MiB keeps its last
// mebibyte from a line start, and a line without its end is written at close.
TEST(ConsoleLog, KeepsTheLastMebibyteAndAnUnendedLine) {
    tarntest::TempDir dir;
    const Path log = dir.path() / "setup.log";
    const std::string kept = std::string(700000, 'b') + "\n";
    ASSERT_TRUE(write_file(log, std::string(700000, 'a') + "\n" + kept));
    tarntest::ConsoleCapture console;
    open_log_file(log);
    console_out() << "last run\n        Extracting archive...";
    close_log_file();
    EXPECT_EQ(console.out(), "last run\n        Extracting archive...");
    EXPECT_EQ(tarntest::file_bytes(log), kept + "last run\n        Extracting archive...\n");
}

}  // namespace
}  // namespace tarncore
