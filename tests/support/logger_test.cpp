#include "support/logger.h"

#include <gtest/gtest.h>

#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/clock.h"

namespace tarncore {
namespace {

// A string buffer that counts flushes, so a test can tell a line was flushed.
class CountingBuf : public std::stringbuf {
public:
    int syncs = 0;

protected:
    int sync() override {
        ++syncs;
        return std::stringbuf::sync();
    }
};

// Swaps the buffers of std::cout and std::cerr for the life of the object.
class CapturedConsole {
public:
    CapturedConsole() : old_out_(std::cout.rdbuf(&out)), old_err_(std::cerr.rdbuf(&err)) {}
    ~CapturedConsole() {
        std::cout.rdbuf(old_out_);
        std::cerr.rdbuf(old_err_);
    }
    CountingBuf out;
    CountingBuf err;

private:
    std::streambuf* old_out_;
    std::streambuf* old_err_;
};

const std::string kStamp = R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] )";

TEST(Logger, LevelNames) {
    const std::pair<int, const char*> cases[] = {
        {0, "TRACE"}, {1, "DEBUG"}, {2, "INFO"},  {3, "WARN"},    {4, "ERROR"},
        {5, "OFF"},   {6, "INFO"},  {-1, "INFO"}, {1000, "INFO"},
    };
    for (const auto& [value, name] : cases) {
        EXPECT_EQ(log_level_name(static_cast<LogLevel>(value)), name) << value;
    }
}

TEST(Logger, RoutesEachLevelWithTheFixedThreshold) {
    struct Case {
        int level;
        char stream;  // 'o' standard output, 'e' standard error, 0 dropped
    };
    // Outside the table: below the threshold is dropped, above it reads INFO
    // but goes to standard error by its value.
    const Case cases[] = {{0, 0}, {1, 0}, {2, 'o'}, {3, 'e'}, {4, 'e'}, {5, 0}, {-3, 0}, {9, 'e'}};
    for (const Case& c : cases) {
        CapturedConsole console;
        const auto level = static_cast<LogLevel>(c.level);
        Logger::instance().log(level, "http", "m 1");
        const std::string line =
            kStamp + R"(\[)" + std::string(log_level_name(level)) + R"(\] \[http\] m 1\n)";
        for (CountingBuf* buf : {&console.out, &console.err}) {
            const bool here = c.stream == (buf == &console.out ? 'o' : 'e');
            EXPECT_EQ(std::regex_match(buf->str(), std::regex(line)), here)
                << c.level << ": " << buf->str();
            EXPECT_EQ(buf->str().empty(), !here) << c.level;
            if (here) {
                EXPECT_GE(buf->syncs, 1) << c.level;
            }
        }
    }
}

TEST(Logger, ShortcutsAndOddTexts) {
    CapturedConsole console;
    const std::string before = local_timestamp();
    Logger& log = Logger::instance();
    log.debug("http", "never shown");
    log.warn("", "no category");
    log.error("tls", "two\nlines");
    log.warn("setup", "");
    const std::string after = local_timestamp();
    EXPECT_EQ(console.out.str(), "");
    const std::regex expected(kStamp + R"(\[WARN\] \[\] no category\n)" + kStamp +
                              R"(\[ERROR\] \[tls\] two\nlines\n)" + kStamp +
                              R"(\[WARN\] \[setup\] \n)");
    const std::string text = console.err.str();
    ASSERT_TRUE(std::regex_match(text, expected)) << text;
    // The stamp is the local time of the call; its format orders like the time it shows.
    EXPECT_LE(before, text.substr(1, 19));
    EXPECT_LE(text.substr(1, 19), after);
}

TEST(Logger, LinesFromManyThreadsStayWhole) {
    CapturedConsole console;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            const std::string category{'t', static_cast<char>('0' + t)};
            const std::string message(40, static_cast<char>('a' + t));
            for (int i = 0; i < 200; ++i) Logger::instance().warn(category, message);
        });
    }
    for (std::thread& thread : threads) thread.join();

    const std::regex whole(kStamp + R"(\[WARN\] \[t(\d)\] ([a-d])\2{39})");
    std::istringstream lines(console.err.str());
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
        EXPECT_EQ(m[2].str()[0] - 'a', m[1].str()[0] - '0') << line;
    }
    EXPECT_EQ(count, 800);
}

}  // namespace
}  // namespace tarncore
