#include "support/error.h"

#include <gtest/gtest.h>

namespace tarncore {
namespace {

TEST(ErrorReport, FormsTheReport) {
    struct Case {
        const char* label;
        Error error;
        std::string expected;
    };
    const Case cases[] = {
        {"success whatever its strings", Error(0, "m", "f", "msg"), ""},
        {"full report", Error(10, "tarnwick", "setup", "Could not write install.json"),
         "Runtime Error\n\nModule: tarnwick\nFunction: setup\n\nError:\n"
         "Could not write install.json\n"},
        {"no module, no function", Error(3, "", "", "x"), "Runtime Error\n\n\nError:\nx\n"},
        {"empty message", Error(2, "network", "", ""),
         "Runtime Error\n\nModule: network\n\nError:\nUnknown error\n"},
        {"traceback gets one newline", Error(77, "m", "", "x", "a\nb"),
         "Runtime Error\n\nModule: m\n\nError:\nx\n\nStack traceback:\na\nb\n"},
        {"traceback already ends with one", Error(1, "", "f", "x", "t\n"),
         "Runtime Error\n\nFunction: f\n\nError:\nx\n\nStack traceback:\nt\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(format_error_report(c.error), c.expected) << c.label;
    }
}

// TARN_TRY hands the first failure up unchanged and stops there.
Error run_steps(int failing, int& reached) {
    for (reached = 1; reached <= 3; ++reached) {
        TARN_TRY(reached == failing ? Error(10, "tarnwick", "setup", "step 2") : Error());
    }
    return Error();
}

TEST(ErrorReport, TryStopsAtTheFirstFailure) {
    int reached = 0;
    EXPECT_EQ(format_error_report(run_steps(2, reached)),
              "Runtime Error\n\nModule: tarnwick\nFunction: setup\n\nError:\nstep 2\n");
    EXPECT_EQ(reached, 2);
    EXPECT_TRUE(run_steps(0, reached).ok());
    EXPECT_EQ(reached, 4);
}

}  // namespace
}  // namespace tarncore
