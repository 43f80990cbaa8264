#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/front.h"

namespace {

struct Row {
    std::vector<std::string> args;  // after argv[0]
    bool silent;
    bool uninstall;
};

// Switches match whole arguments, byte for byte; everything else is ignored.
TEST(CommandLine, OnlyExactSwitchesCount) {
    const Row rows[] = {
        {{}, false, false},
        {{"--silent"}, true, false},
        {{"/S"}, true, false},
        {{"--uninstall"}, false, true},
        {{"/U"}, false, true},
        {{"/S", "/U"}, true, true},
        {{"/U", "x", "--silent", "/U"}, true, true},
        {{"/s", "/u", "--Silent", "-silent", "--silent=1", "--silent ", " /S", "--UNINSTALL"},
         false,
         false},
        {{"setup", "--uninstall", "--force"}, false, true},
    };
    for (const Row& row : rows) {
        std::vector<const char*> argv{"--silent"};  // argv[0] is never a switch
        for (const std::string& arg : row.args) argv.push_back(arg.c_str());
        const tarncore::CommandLine line =
            tarncore::parse_command_line(static_cast<int>(argv.size()), argv.data());
        std::string shown;
        for (const std::string& arg : row.args) shown += "[" + arg + "]";
        EXPECT_EQ(line.silent, row.silent) << shown;
        EXPECT_EQ(line.uninstall, row.uninstall) << shown;
    }
}

}  // namespace
