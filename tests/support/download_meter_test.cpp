// The download meter's line, bar and throttle, driven by an injected clock and
// output stream through the rows of tests/data/update/download_meter.txt.
#include "support/download_meter.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>

#include "tests/common/table_file.h"

namespace {

using tarncore::platform::DownloadMeter;

struct Console {
    std::ostringstream out;
    std::int64_t now = 0;
    DownloadMeter meter{out, [this] { return now; }};
};

TEST(DownloadMeter, DrawsEachCallExactly) {
    const std::string table = "update/download_meter.txt";
    std::map<std::string, std::unique_ptr<Console>> consoles;
    for (const tarntest::TableRow& row : tarntest::read_table(table)) {
        SCOPED_TRACE(tarntest::row_where(table, row));
        const std::string& op = row[0];
        if (op == "size") {
            EXPECT_EQ(DownloadMeter::format_size(std::stoll(row[1])), row[2]);
            continue;
        }
        if (op == "bar") {
            EXPECT_EQ(DownloadMeter::render_bar(std::stoll(row[1]), std::stoll(row[2]), 22),
                      row[3]);
            continue;
        }
        auto& console = consoles[row[1]];
        if (!console) console = std::make_unique<Console>();
        console->now = std::stoll(row[2]);
        console->out.str("");
        if (op == "update") {
            console->meter.update(std::stoll(row[3]), std::stoll(row[4]));
        } else if (op == "status") {
            console->meter.show_status(row[3]);
        } else {
            ASSERT_EQ(op, "finish");
            console->meter.finish(row[3]);
        }
        EXPECT_EQ(console->out.str(), row.fields.back());
    }
}

}  // namespace
