#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/front.h"
#include "tests/common/test_data.h"

namespace {

// Switches match whole arguments, byte for byte; everything else is ignored.
// Rows as app/command_line.json says.
TARN_ROWS(CommandLine, "app/command_line.json", "rows");
TEST_P(CommandLine, OnlyExactSwitchesCount) {
    const tarncore::Json& row = GetParam();
    std::vector<const char*> argv{"--silent"};
    for (const tarncore::Json& arg : tarntest::items(tarntest::items(row)[0]))
        argv.push_back(std::get<std::string>(arg.value).c_str());
    const tarncore::CommandLine line =
        tarncore::parse_command_line(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(tarntest::text_at(row, 1) + " " + tarntest::text_at(row, 2),
              std::string(line.silent ? "true" : "false") + (line.uninstall ? " true" : " false"));
}

}  // namespace
