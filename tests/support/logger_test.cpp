#include "support/logger.h"

#include <gtest/gtest.h>

#include <iostream>
#include <regex>
#include <sstream>

#include "support/clock.h"

namespace tarncore {
namespace {

// A string buffer that counts flushes, so a test can tell a line was flushed.
struct CountingBuf : std::stringbuf {
    int syncs = 0;
    int sync() override {
        ++syncs;
        return std::stringbuf::sync();
    }
};

// Standard output and error, captured while `write` runs.
void capture(CountingBuf& out, CountingBuf& err, void (*write)(int), int level) {
    std::streambuf* old_out = std::cout.rdbuf(&out);
    std::streambuf* old_err = std::cerr.rdbuf(&err);
    write(level);
    std::cout.rdbuf(old_out);
    std::cerr.rdbuf(old_err);
}

// Outside the table a level below the threshold is dropped, one above it is
// named INFO but goes to standard error by its value.
TEST(Logger, NamesRoutesStampsAndFlushesEachLevel) {
    struct Case {
        int level;
        const char* name;
        char stream;  // 'o' standard output, 'e' standard error, '-' nowhere
    };
    const Case cases[] = {{0, "TRACE", '-'}, {1, "DEBUG", '-'}, {2, "INFO", 'o'},
                          {3, "WARN", 'e'},  {4, "ERROR", 'e'}, {5, "OFF", '-'},
                          {-3, "INFO", '-'}, {9, "INFO", 'e'}};
    const std::regex stamp(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] )");
    for (const Case& c : cases) {
        CountingBuf out, err;
        const std::string before = local_timestamp();
        capture(
            out, err,
            [](int level) {
                Logger::instance().log(static_cast<LogLevel>(level), level == 4 ? "" : "http",
                                       "m\n1");
            },
            c.level);
        const std::string after = local_timestamp();
        EXPECT_EQ(log_level_name(static_cast<LogLevel>(c.level)), c.name);
        CountingBuf& used = c.stream == 'o' ? out : err;
        EXPECT_EQ((c.stream == 'o' ? err : out).str(), "") << c.level;
        if (c.stream == '-') {
            EXPECT_EQ(used.str(), "") << c.level;
            continue;
        }
        const std::string text = used.str();
        ASSERT_TRUE(std::regex_search(text, stamp, std::regex_constants::match_continuous)) << text;
        EXPECT_TRUE(before <= text.substr(1, 19) && text.substr(1, 19) <= after) << text;
        EXPECT_EQ(text.substr(22),
                  "[" + std::string(c.name) + (c.level == 4 ? "] [] " : "] [http] ") + "m\n1\n");
        EXPECT_GT(used.syncs, 0) << c.level;
    }
    CountingBuf out, err;
    capture(
        out, err,
        [](int) {
            Logger::instance().debug("c", "m");
            Logger::instance().warn("c", "m");
            Logger::instance().error("c", "m");
        },
        0);
    EXPECT_EQ(std::regex_replace(err.str(), stamp, ""), "[WARN] [c] m\n[ERROR] [c] m\n");
    EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace tarncore
