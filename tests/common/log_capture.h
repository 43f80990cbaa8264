// The logger's lines, collected for a test: it writes whole lines to std::cerr.
#pragma once

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace tarntest {

struct LogCapture {
    std::ostringstream text;
    std::streambuf* old = std::cerr.rdbuf(text.rdbuf());
    ~LogCapture() { std::cerr.rdbuf(old); }

    /// Messages of the `category` lines at `level`, without time and tags.
    std::vector<std::string> lines(const std::string& level, const std::string& category) const {
        std::vector<std::string> out;
        std::istringstream in(text.str());
        const std::string tag = "] [" + level + "] [" + category + "] ";
        for (std::string line; std::getline(in, line);) {
            std::size_t at = line.find(tag);
            if (at != std::string::npos) out.push_back(line.substr(at + tag.size()));
        }
        return out;
    }
};

}  // namespace tarntest
