// Standard output and error of a call, as strings and as a console shows them.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "support/output.h"

namespace tarntest {

/// Collects the program's console text (the flows, the logger, the download
/// meter) until it goes out of scope.
class ConsoleCapture : public tarncore::ConsoleSink {
public:
    ConsoleCapture();
    ~ConsoleCapture() override;

    void write(tarncore::Stream stream, std::string_view text) override;

    std::string out() const { return out_.str(); }
    std::string err() const { return err_.str(); }
    /// Messages of the logger's `category` lines at `level`, without time and tags.
    std::vector<std::string> lines(const std::string& level, const std::string& category) const;

private:
    std::ostringstream out_;
    std::ostringstream err_;
    tarncore::ConsoleSink* old_;
};

/// What a console leaves visible of `text`: each line as its last carriage-
/// return redraw, trailing padding removed; log lines lose their time stamp,
/// and those of `skip_category` ("http" ...) are left out.
std::string screen(const std::string& text, const std::string& skip_category = "");

}  // namespace tarntest
