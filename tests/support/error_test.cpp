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
        {"success is empty", Error(), ""},
        {"success whatever its strings", Error(0, "m", "f", "msg"), ""},
        {"full report",
         Error(10, "tarnwick", "setup", "Could not write install.json"),
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

Error fails_at(int step, int where) {
    if (step == where) return Error(10, "tarnwick", "setup", "step " + std::to_string(step));
    return Error();
}

Error run_steps(int where, int& reached) {
    for (int step = 1; step <= 3; ++step) {
        reached = step;
        TARN_TRY(fails_at(step, where));
    }
    return Error();
}

TEST(ErrorReport, TryHandsTheFirstFailureUpUnchanged) {
    int reached = 0;
    Error e = run_steps(2, reached);
    EXPECT_EQ(reached, 2);
    EXPECT_EQ(e.code, 10u);
    EXPECT_EQ(e.message, "step 2");

    e = run_steps(0, reached);
    EXPECT_EQ(reached, 3);
    EXPECT_TRUE(e.ok());
}

}  // namespace
}  // namespace tarncore
