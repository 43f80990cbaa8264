// The process-wide diagnostic log: one whole line per call, routine levels to
// standard output, warnings and errors to standard error; details for a bug
// report go to the log file alone.
#pragma once

#include <cstdint>
#include <mutex>
#include <string_view>

namespace tarncore {

enum class LogLevel : std::int32_t { Trace = 0, Debug = 1, Info = 2, Warn = 3, Error = 4, Off = 5 };

class Logger {
public:
    static Logger& instance();

    void log(LogLevel level, std::string_view category, std::string_view message);
    void debug(std::string_view category, std::string_view message);
    void warn(std::string_view category, std::string_view message);
    void error(std::string_view category, std::string_view message);
    /// An INFO line for the log file only; the console never shows it.
    void detail(std::string_view category, std::string_view message);

private:
    // Not constexpr: the MinGW (winpthreads) std::mutex has no constant initialiser.
    Logger() = default;
    std::mutex lock_;
    LogLevel threshold_ = LogLevel::Info;
    bool disabled_ = false;
};

/// The log-file line of one HTTP request: method, URL, status (0 for none),
/// the time it took and the failure, if any.
void log_request(std::string_view method, std::string_view url, int status, std::int64_t elapsed_ms,
                 std::string_view failure);

/// "TRACE" .. "OFF"; any other value reads "INFO".
std::string_view log_level_name(LogLevel level);

}  // namespace tarncore
