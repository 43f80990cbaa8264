#include "support/logger.h"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST(Logger, NamesAndRoutesEachLevelWithTheFixedThreshold) {
    struct Case {
        int level;
        const char* name;
        char stream;  // 'o' standard output, 'e' standard error, 0 dropped
    };
    // Outside the table: below the threshold is dropped, above it reads INFO
    // but goes to standard error by its value.
    const Case cases[] = {{0, "TRACE", 0},   {1, "DEBUG", 0}, {2, "INFO", 'o'}, {3, "WARN", 'e'},
                          {4, "ERROR", 'e'}, {5, "OFF", 0},   {-3, "INFO", 0},  {9, "INFO", 'e'}};
    for (const Case& c : cases) {
        CapturedConsole console;
        const auto level = static_cast<LogLevel>(c.level);
        EXPECT_EQ(log_level_name(level), c.name);
        Logger::instance().log(level, "http", "m 1");
        for (CountingBuf* buf : {&console.out, &console.err}) {
            const bool here = c.stream == (buf == &console.out ? 'o' : 'e');
            // The stamp is checked below; here only what follows it, and the flush.
            const std::string text = buf->str();
            EXPECT_EQ(text.substr(std::min<std::size_t>(text.size(), 22)),
                      here ? "[" + std::string(c.name) + "] [http] m 1\n" : "")
                << c.level;
            EXPECT_TRUE(!here || buf->syncs > 0) << c.level;
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
