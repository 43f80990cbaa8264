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
    std::map<std::string, std::unique_ptr<Console>> consoles;
    for (const tarncore::Json& row : tarntest::json_rows("update/download_meter.json")) {
        SCOPED_TRACE(row.dump(false));
        auto text = [&](std::size_t i) { return tarntest::text_at(row, i); };
        auto number = [&](std::size_t i) { return std::stoll(text(i)); };
        const std::string op = text(0);
        std::string drawn = op == "size" ? DownloadMeter::format_size(number(1)) : "";
        if (op == "bar") drawn = DownloadMeter::render_bar(number(1), number(2), 22);
        if (op == "update" || op == "status" || op == "finish") {
            auto& console = consoles[text(1)];
            if (!console) console = std::make_unique<Console>();
            console->now = number(2);
            console->out.str("");
            if (op == "update") console->meter.update(number(3), number(4));
            if (op == "status") console->meter.show_status(text(3));
            if (op == "finish") console->meter.finish(text(3));
            drawn = console->out.str();
        }
        EXPECT_EQ(drawn, text(tarntest::items(row).size() - 1));
    }
    EXPECT_EQ(consoles.size(), 6u);
}

}  // namespace
