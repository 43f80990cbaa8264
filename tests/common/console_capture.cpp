#include "tests/common/console_capture.h"

namespace tarntest {

ConsoleCapture::ConsoleCapture()
    : old_out_(std::cout.rdbuf(out_.rdbuf())), old_err_(std::cerr.rdbuf(err_.rdbuf())) {}

ConsoleCapture::~ConsoleCapture() {
    std::cout.rdbuf(old_out_);
    std::cerr.rdbuf(old_err_);
}

std::string screen(const std::string& text, const std::string& skip_category) {
    std::istringstream in(text);
    std::string out;
    // "[YYYY-MM-DD HH:MM:SS] " opens every log line.
    constexpr std::size_t kStampSize = 22;
    for (std::string line; std::getline(in, line);) {
        const std::size_t redraw = line.rfind('\r');
        if (redraw != std::string::npos) line.erase(0, redraw + 1);
        line.erase(line.find_last_not_of(' ') + 1);
        if (line.size() > kStampSize && line[0] == '[' && line[kStampSize - 2] == ']') {
            line.erase(0, kStampSize);
        }
        if (!skip_category.empty() &&
            line.find("] [" + skip_category + "] ") != std::string::npos) {
            continue;
        }
        out += line + "\n";
    }
    return out;
}

}  // namespace tarntest
