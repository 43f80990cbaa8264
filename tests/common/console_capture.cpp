#include "tests/common/console_capture.h"

namespace tarntest {

ConsoleCapture::ConsoleCapture() : old_(tarncore::set_console_sink(this)) {}

ConsoleCapture::~ConsoleCapture() {
    tarncore::set_console_sink(old_);
}

void ConsoleCapture::write(tarncore::Stream stream, std::string_view text) {
    (stream == tarncore::Stream::Out ? out_ : err_) << text;
}

std::vector<std::string> ConsoleCapture::lines(const std::string& level,
                                               const std::string& category) const {
    std::vector<std::string> found;
    std::istringstream in(err() + out());
    const std::string tag = "] [" + level + "] [" + category + "] ";
    for (std::string line; std::getline(in, line);) {
        const std::size_t at = line.find(tag);
        if (at != std::string::npos) found.push_back(line.substr(at + tag.size()));
    }
    return found;
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
