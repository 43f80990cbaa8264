// The download meter's line, bar and throttle, driven by an injected clock and
// output stream.
#include "support/download_meter.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/common/test_data.h"

namespace {

using tarncore::platform::DownloadMeter;
using tarntest::text_at;

// [size, bytes, the size as shown] or [bar, received, total (-1 unknown), the
// bar of 22 cells].
TARN_ROWS(MeterPart, "support/download_meter.json", "parts");
TEST_P(MeterPart, Formats) {
    const std::int64_t bytes = std::stoll(text_at(row, 1));
    EXPECT_EQ(text_at(row, 0) == "size"
                  ? DownloadMeter::format_size(bytes)
                  : DownloadMeter::render_bar(bytes, std::stoll(text_at(row, 2)), 22),
              text_at(row, tarntest::items(row).size() - 1));
}

// name; calls: on one meter in order, [op, clock ms, arguments..., the exact
// bytes the call writes]; op update (received, total), status or finish (text).
TARN_ROWS(Meter, "support/download_meter.json", "meters");
TEST_P(Meter, DrawsEachCallExactly) {
    std::ostringstream out;
    std::int64_t now = 0;
    DownloadMeter meter{out, [&now] { return now; }};
    for (const tarncore::Json& call : tarntest::items(row.find("calls"))) {
        SCOPED_TRACE(call.dump(false));
        const std::string op = text_at(call, 0);
        now = std::stoll(text_at(call, 1));
        out.str("");
        if (op == "update")
            meter.update(std::stoll(text_at(call, 2)), std::stoll(text_at(call, 3)));
        if (op == "status") meter.show_status(text_at(call, 2));
        if (op == "finish") meter.finish(text_at(call, 2));
        EXPECT_EQ(out.str(), text_at(call, tarntest::items(call).size() - 1));
    }
}

}  // namespace
