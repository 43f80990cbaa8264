#include "support/logger.h"

#include <ostream>
#include <string>

#include "support/ascii.h"
#include "support/clock.h"
#include "support/output.h"

namespace tarncore {

Logger& Logger::instance() {
    // Made on first use, so logging works even from other static initialisers.
    static Logger logger;
    return logger;
}

std::string_view log_level_name(LogLevel level) {
    switch (level) {
        case LogLevel::Trace: return "TRACE";
        case LogLevel::Debug: return "DEBUG";
        case LogLevel::Info: return "INFO";
        case LogLevel::Warn: return "WARN";
        case LogLevel::Error: return "ERROR";
        case LogLevel::Off: return "OFF";
    }
    return "INFO";
}

namespace {

std::string format_line(LogLevel level, std::string_view category, std::string_view message) {
    std::string line;
    line.reserve(32 + category.size() + message.size());
    line += '[';
    line += local_timestamp();
    line += "] [";
    line += log_level_name(level);
    line += "] [";
    line += category;
    line += "] ";
    // Messages quote URLs, headers and server texts; none may steer the console.
    line += console_safe(message);
    return line;
}

}  // namespace

void Logger::log(LogLevel level, std::string_view category, std::string_view message) {
    // threshold_ and disabled_ never change after start-up, so no lock for the check.
    if (disabled_ || level < threshold_ || level == LogLevel::Off) return;

    // Stamped under the lock so lines come out in time order.
    std::lock_guard<std::mutex> hold(lock_);
    const std::string line = format_line(level, category, message) + '\n';
    std::ostream& out = level < LogLevel::Warn ? console_out() : console_err();
    out.write(line.data(), static_cast<std::streamsize>(line.size()));
    out.flush();
}

void Logger::detail(std::string_view category, std::string_view message) {
    if (disabled_) return;
    std::lock_guard<std::mutex> hold(lock_);
    write_log_line(format_line(LogLevel::Info, category, message));
}

void Logger::debug(std::string_view category, std::string_view message) {
    log(LogLevel::Debug, category, message);
}

void Logger::warn(std::string_view category, std::string_view message) {
    log(LogLevel::Warn, category, message);
}

void Logger::error(std::string_view category, std::string_view message) {
    log(LogLevel::Error, category, message);
}

void log_request(std::string_view method, std::string_view url, int status, std::int64_t elapsed_ms,
                 std::string_view failure) {
    std::string line(method);
    line += ' ';
    line += url;
    line += " status=" + std::to_string(status) + " time=" + std::to_string(elapsed_ms) + "ms";
    if (!failure.empty()) {
        line += " err=";
        line += failure;
    }
    Logger::instance().detail("http", line);
}

}  // namespace tarncore
