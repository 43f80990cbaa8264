#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/front.h"
#include "tests/common/test_data.h"

namespace {

// args: the arguments after argv[0] (which is "--silent", never a switch);
// silent, uninstall: what the line asks. Switches match whole arguments, byte
// for byte; everything else is ignored.
TARN_ROWS(CommandLine, "app/command_line.json", "rows");
TEST_P(CommandLine, OnlyExactSwitchesCount) {
    std::vector<const char*> argv{"--silent"};
    for (const tarncore::Json& arg : tarntest::items(GetParam().find("args")))
        argv.push_back(std::get<std::string>(arg.value).c_str());
    const tarncore::CommandLine line =
        tarncore::parse_command_line(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(line.silent, tarntest::flag(GetParam(), "silent"));
    EXPECT_EQ(line.uninstall, tarntest::flag(GetParam(), "uninstall"));
}

}  // namespace
