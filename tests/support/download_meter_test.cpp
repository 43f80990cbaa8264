// The download meter's line, bar and throttle, driven by an injected clock and
// output stream through the rows of tests/data/update/download_meter.json.
#include "support/download_meter.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>

#include "tests/common/test_data.h"

namespace {

using tarncore::platform::DownloadMeter;

struct Console {
    std::ostringstream out;
    std::int64_t now = 0;
    DownloadMeter meter{out, [this] { return now; }};
};

TEST(DownloadMeter, DrawsEachCallExactly) {
    using tarntest::text_at;
    std::map<std::string, std::unique_ptr<Console>> consoles;
    const tarncore::Json table = tarntest::load_test_data("update/download_meter.json");
    for (const tarncore::Json& row : tarntest::items(table.find("rows"))) {
        SCOPED_TRACE(row.dump(false));
        const std::string op = text_at(row, 0);
        auto number = [&](std::size_t i) { return std::stoll(text_at(row, i)); };
        if (op == "size") {
            EXPECT_EQ(DownloadMeter::format_size(number(1)), text_at(row, 2));
            continue;
        }
        if (op == "bar") {
            EXPECT_EQ(DownloadMeter::render_bar(number(1), number(2), 22), text_at(row, 3));
            continue;
        }
        auto& console = consoles[text_at(row, 1)];
        if (!console) console = std::make_unique<Console>();
        console->now = number(2);
        console->out.str("");
        if (op == "update") {
            console->meter.update(number(3), number(4));
        } else if (op == "status") {
            console->meter.show_status(text_at(row, 3));
        } else {
            ASSERT_EQ(op, "finish");
            console->meter.finish(text_at(row, 3));
        }
        EXPECT_EQ(console->out.str(), text_at(row, tarntest::items(row).size() - 1));
    }
    EXPECT_EQ(consoles.size(), 6u);
}

}  // namespace
