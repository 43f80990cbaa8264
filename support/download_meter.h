// One console line that shows a download's progress, and the status of the
// step that follows it, rewritten in place.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace tarncore::platform {

class DownloadMeter {
public:
    /// Wall-clock milliseconds; injectable so tests can drive the throttle.
    using Clock = std::function<std::int64_t()>;

    /// Draws on standard output with the system clock.
    DownloadMeter();
    DownloadMeter(std::ostream& out, Clock clock);

    /// Progress report; total < 1 means unknown. Throttled to one redraw per
    /// 80 ms or 256 KiB, except the first report and a complete download.
    void update(std::int64_t received, std::int64_t total);
    /// Replaces the line with eight spaces and text, staying on the line.
    void show_status(std::string_view text);
    /// Like show_status, then ends the line and makes the meter fresh again.
    void finish(std::string_view text);

    /// "512 B", "1.0 KB", "48.0 MB", "1.00 GB"; "?" for a negative count.
    static std::string format_size(std::int64_t bytes);
    /// "[" + cells characters + "]"; a moving marker when the total is unknown.
    static std::string render_bar(std::int64_t received, std::int64_t total, int cells);

private:
    void redraw(std::string line, bool end_line);

    std::ostream* out_;
    Clock clock_;
    std::int32_t width_ = 0;
    std::int64_t last_redraw_ms_ = 0;
    std::int64_t last_redraw_bytes_ = -1;
};

/// Switches the console of standard output to virtual-terminal processing
/// (Windows); failures are ignored. Platform files download_meter_*.cpp.
void enable_virtual_terminal();

}  // namespace tarncore::platform
