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

constexpr const char* kStamp = R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] )";

TEST(Logger, LevelNames) {
    const std::pair<int, const char*> cases[] = {
        {0, "TRACE"}, {1, "DEBUG"}, {2, "INFO"}, {3, "WARN"},  {4, "ERROR"},
        {5, "OFF"},   {6, "INFO"},  {-1, "INFO"}, {1000, "INFO"},
    };
    for (const auto& [value, name] : cases) {
        EXPECT_EQ(log_level_name(static_cast<LogLevel>(value)), name) << value;
    }
}

TEST(Logger, RoutesEachLevelWithTheFixedThreshold) {
    struct Case {
        int level;
        std::string out;  // pattern of standard output after the stamp, or "" for nothing
        std::string err;
    };
    const Case cases[] = {
        {0, "", ""},
        {1, "", ""},
        {2, R"(\[INFO\] \[http\] m 1\n)", ""},
        {3, "", R"(\[WARN\] \[http\] m 1\n)"},
        {4, "", R"(\[ERROR\] \[http\] m 1\n)"},
        {5, "", ""},
        // Outside the table: below the threshold is dropped, above it reads INFO
        // but goes to standard error by its value.
        {-3, "", ""},
        {9, "", R"(\[INFO\] \[http\] m 1\n)"},
    };
    for (const Case& c : cases) {
        CapturedConsole console;
        Logger::instance().log(static_cast<LogLevel>(c.level), "http", "m 1");
        const std::string out = console.out.str();
        const std::string err = console.err.str();
        if (c.out.empty()) {
            EXPECT_EQ(out, "") << c.level;
        } else {
            EXPECT_TRUE(std::regex_match(out, std::regex(kStamp + c.out))) << c.level << ": " << out;
            EXPECT_GE(console.out.syncs, 1) << c.level;
        }
        if (c.err.empty()) {
            EXPECT_EQ(err, "") << c.level;
        } else {
            EXPECT_TRUE(std::regex_match(err, std::regex(kStamp + c.err))) << c.level << ": " << err;
            EXPECT_GE(console.err.syncs, 1) << c.level;
        }
    }
}

TEST(Logger, ShortcutsAndOddTexts) {
    CapturedConsole console;
    Logger& log = Logger::instance();
    log.debug("http", "never shown");
    log.warn("", "no category");
    log.error("tls", "two\nlines");
    log.warn("setup", "");
    EXPECT_EQ(console.out.str(), "");
    const std::regex expected(std::string(kStamp) + R"(\[WARN\] \[\] no category\n)" + kStamp +
                              R"(\[ERROR\] \[tls\] two\nlines\n)" + kStamp +
                              R"(\[WARN\] \[setup\] \n)");
    EXPECT_TRUE(std::regex_match(console.err.str(), expected)) << console.err.str();
}

TEST(Logger, StampIsTheLocalTimeOfTheCall) {
    CapturedConsole console;
    const std::string before = local_timestamp();
    Logger::instance().warn("http", "x");
    const std::string after = local_timestamp();
    const std::string line = console.err.str();
    ASSERT_GT(line.size(), 21u);
    const std::string stamp = line.substr(1, 19);
    // The format orders like the time it shows.
    EXPECT_LE(before, stamp);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(line.substr(20, 2), "] ");
}

TEST(Logger, LinesFromManyThreadsStayWhole) {
    CapturedConsole console;
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string category{'t', static_cast<char>('0' + t)};
            const std::string message(40, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) Logger::instance().warn(category, message);
        });
    }
    for (std::thread& thread : threads) thread.join();

    const std::regex whole(std::string(kStamp) + R"(\[WARN\] \[t(\d)\] ([a-d])\2{39})");
    std::istringstream lines(console.err.str());
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << line;
        EXPECT_EQ(m[2].str()[0] - 'a', m[1].str()[0] - '0') << line;
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
}  // namespace tarncore
