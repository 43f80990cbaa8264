// Standard output and error of a call, as strings and as a console shows them.
#pragma once

#include <iostream>
#include <sstream>
#include <string>

namespace tarntest {

/// Collects what is written to std::cout and std::cerr (the logger and the
/// download meter write there) until it goes out of scope.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    std::string out() const { return out_.str(); }
    std::string err() const { return err_.str(); }

private:
    std::ostringstream out_;
    std::ostringstream err_;
    std::streambuf* old_out_;
    std::streambuf* old_err_;
};

/// What a console leaves visible of `text`: each line as its last carriage-
/// return redraw, trailing padding removed; log lines lose their time stamp,
/// and those of `skip_category` ("http" ...) are left out.
std::string screen(const std::string& text, const std::string& skip_category = "");

}  // namespace tarntest
