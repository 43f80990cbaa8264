#include "support/error.h"

#include <gtest/gtest.h>

namespace tarncore {
namespace {

TEST(ErrorReport, FormsTheReport) {
    struct Case {
        Error error;
        std::string expected;
    };
    const Case cases[] = {
        {Error(0, "m", "f", "success whatever its strings"), ""},
        {Error(10, "tarnwick", "setup", "Could not write install.json"),
         "Runtime Error\n\nModule: tarnwick\nFunction: setup\n\nError:\n"
         "Could not write install.json\n"},
        {Error(3, "", "", "x"), "Runtime Error\n\n\nError:\nx\n"},
        {Error(2, "network", "", ""),
         "Runtime Error\n\nModule: network\n\nError:\nUnknown error\n"},
        {Error(77, "m", "", "x", "a\nb"),
         "Runtime Error\n\nModule: m\n\nError:\nx\n\nStack traceback:\na\nb\n"},
        {Error(1, "", "f", "x", "t\n"),
         "Runtime Error\n\nFunction: f\n\nError:\nx\n\nStack traceback:\nt\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(format_error_report(c.error), c.expected);
}

}  // namespace
}  // namespace tarncore
