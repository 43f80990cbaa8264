#include <gtest/gtest.h>

#include <ostream>

#include "support/layout.h"
#include "support/output.h"
#include "tests/common/console_capture.h"
#include "tests/common/test_data.h"

namespace tarncore {
namespace {

void play(const Json& writes) {
    for (const Json& write : tarntest::items(writes)) {
        const std::string kind = tarntest::text_at(write, 0);
        const std::string text = tarntest::text_at(write, 1);
        if (kind == "log") {
            write_log_line(text);
        } else {
            (kind == "err" ? console_err() : console_out()) << text;
        }
    }
}

// why: what the row shows; earlier: what an earlier run logged, [byte, count]
// lines, "kept" when the line stays (absent: one line, kept); before, after:
// [out|err|log, text] writes before and after the log file is opened; log:
// what the file holds after the kept lines. The console gets every byte as
// written, the log file the lines as they stay visible.
TARN_ROWS(ConsoleLog, "support/console_log.json", "");
TEST_P(ConsoleLog, LogFileHoldsWhatTheConsoleShows) {
    const Json& row = GetParam();
    tarntest::TempDir dir;
    const Path log = dir.path() / "setup.log";
    std::string earlier = "earlier run\n", kept = earlier;
    if (row.find("earlier").kind != JsonKind::Null) earlier = kept = "";
    for (const Json& line : tarntest::items(row.find("earlier"))) {
        const std::string text =
            std::string(std::stoul(tarntest::text_at(line, 1)), tarntest::text_at(line, 0)[0]) +
            "\n";
        earlier += text;
        if (tarntest::text_at(line, 2) == "kept") kept += text;
    }
    ASSERT_TRUE(write_file(log, earlier));
    std::string shown;
    {
        tarntest::ConsoleCapture console;
        play(row.find("before"));
        open_log_file(log);
        play(row.find("after"));
        close_log_file();
        shown = console.out() + console.err();
    }
    std::string text;
    ASSERT_TRUE(read_file(log, text));
    EXPECT_EQ(text, kept + row.get_string("log", "")) << row.get_string("why", "");
    for (const char* key : {"before", "after"}) {
        for (const Json& write : tarntest::items(row.find(key))) {
            if (tarntest::text_at(write, 0) != "log") {
                EXPECT_NE(shown.find(tarntest::text_at(write, 1)), std::string::npos);
            }
        }
    }
}

}  // namespace
}  // namespace tarncore
