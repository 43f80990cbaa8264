// The one failure value of the program: every fallible operation returns or
// fills an Error instead of throwing.
#pragma once

#include <cstdint>
#include <string>

namespace tarncore {

/// Failure areas carried in Error::code (0 is success).
enum ErrorCode : std::uint32_t {
    kErrProcess = 1,  // child processes, archive extraction, manual installs
    kErrNetwork = 2,  // URL, sockets, TLS
    kErrHttp = 3,     // HTTP exchanges and downloads
    kErrJson = 5,     // JSON text that does not parse
    kErrPolicy = 9,   // a rule or platform setting that is not met
    kErrFile = 10,    // files and folders
};

/// What kind of failure an Error is, for callers that decide by it; the
/// message stays for people.
enum class ErrorKind : std::uint8_t {
    kUnspecified,
    kTooLarge,   // more arrived than the caller's limit allows
    kTimedOut,   // a wait for the peer or the system ran out
    kClosed,     // the peer ended or dropped the connection
    kRefused,    // nobody accepted the connection
    kNotFound,   // no such host, file or folder
    kDenied,     // the system refused the access
    kUntrusted,  // the peer's certificate was not accepted
};

struct [[nodiscard]] Error {
    std::uint32_t code = 0;
    std::string module;
    std::string function;
    std::string message;
    std::string traceback;
    ErrorKind kind = ErrorKind::kUnspecified;
    /// For the log alone: what the message leaves out (a full path, the
    /// system's reason), so the report keeps its fixed words.
    std::string detail;

    Error() = default;
    Error(std::uint32_t c, std::string mod, std::string fn, std::string msg, std::string tb = {})
        : code(c),
          module(std::move(mod)),
          function(std::move(fn)),
          message(std::move(msg)),
          traceback(std::move(tb)) {}

    /// True for a failure; a value with code 0 is success whatever its strings say.
    bool failed() const { return code != 0; }
    bool ok() const { return code == 0; }
};

/// The kind of a system error code: errno on POSIX, a Win32 or Winsock code
/// on Windows (error_posix.cpp, error_win32.cpp).
ErrorKind system_error_kind(int code);
/// The kind of a failed name look-up's status (getaddrinfo's own codes).
ErrorKind lookup_error_kind(int status);

/// A failure the system reported with code; its kind comes from the code,
/// its message stays the caller's words.
Error system_error(std::uint32_t area, std::string module, std::string function,
                   std::string message, int code);

/// The "Runtime Error" report for a failure; empty for success.
std::string format_error_report(const Error& error);

/// The message with the detail behind it, for a log line.
std::string logged_message(const Error& error);

}  // namespace tarncore

// Return-if-error: hands a callee's failure up unchanged.
#define TARN_TRY(expr)                                        \
    do {                                                      \
        ::tarncore::Error tarn_try_error_ = (expr);           \
        if (tarn_try_error_.failed()) return tarn_try_error_; \
    } while (false)
