// The program's console text. The flows and every layer below write here and
// never to std::cout or std::cerr, so the console, the log file and a test's
// capture see the same text.
#pragma once

#include <iosfwd>
#include <string_view>

#include "support/system.h"

namespace tarncore {

enum class Stream { Out, Err };

/// Standard output and standard error of the program. Each insertion reaches
/// the sink at once; flush() flushes the console.
std::ostream& console_out();
std::ostream& console_err();

/// Where console text goes. The process's own sink writes to its standard
/// streams; a test puts its capture in place.
class ConsoleSink {
public:
    virtual ~ConsoleSink() = default;
    virtual void write(Stream stream, std::string_view text) = 0;
    virtual void flush() {}
};
/// Puts `sink` in place (nullptr: the process's streams); returns the one replaced.
ConsoleSink* set_console_sink(ConsoleSink* sink);

/// From now on the log file at `path` gets each console line as the console
/// leaves it (a redrawn line once, its last drawing), and the log-only lines;
/// first what the run showed before. The file is cut to its last 1 MiB.
void open_log_file(const Path& path);
/// A line for the log file only (the run's details); kept until one is open.
void write_log_line(std::string_view line);
/// Ends the pending console line, cuts the file to its last 1 MiB and stops
/// writing to it.
void close_log_file();

}  // namespace tarncore
