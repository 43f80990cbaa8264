#include "support/download_meter.h"

#include <chrono>
#include <cstdio>
#include <ostream>

#include "support/output.h"

namespace tarncore::platform {
namespace {

constexpr std::int64_t kRedrawMs = 80;
constexpr std::int64_t kRedrawBytes = 262144;
constexpr std::int64_t kMarkerStep = 262144;  // the unknown-total marker moves per 256 KiB
constexpr int kBarCells = 22;
constexpr char kIndent[] = "        ";

// Set once, never cleared: the console mode is the process's, not a meter's.
bool virtual_terminal_checked = false;

std::int64_t system_clock_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace

DownloadMeter::DownloadMeter() : DownloadMeter(console_out(), system_clock_ms) {}

DownloadMeter::DownloadMeter(std::ostream& out, Clock clock)
    : out_(&out), clock_(std::move(clock)) {}

void DownloadMeter::update(std::int64_t received, std::int64_t total) {
    const std::int64_t now = clock_();
    const bool complete = total >= 1 && received >= total;
    if (!complete && last_redraw_bytes_ >= 0 && now - last_redraw_ms_ < kRedrawMs &&
        received - last_redraw_bytes_ < kRedrawBytes) {
        return;
    }
    last_redraw_ms_ = now;
    last_redraw_bytes_ = received;

    std::string line = kIndent + format_size(received);
    if (total < 1) {
        line += " downloaded  " + render_bar(received, -1, kBarCells);
    } else {
        std::int64_t percent = received * 100 / total;
        if (percent > 100) percent = 100;
        char field[16];
        std::snprintf(field, sizeof field, "%3d%%", static_cast<int>(percent));
        line += " / " + format_size(total) + "  " + render_bar(received, total, kBarCells) + "  " +
                field;
    }
    redraw(std::move(line), false);
}

void DownloadMeter::show_status(std::string_view text) {
    redraw(kIndent + std::string(text), false);
}

void DownloadMeter::finish(std::string_view text) {
    redraw(kIndent + std::string(text), true);
    width_ = 0;
    last_redraw_bytes_ = -1;
}

void DownloadMeter::redraw(std::string line, bool end_line) {
    if (!virtual_terminal_checked) {
        virtual_terminal_checked = true;
        enable_virtual_terminal();
    }
    const auto length = static_cast<std::int32_t>(line.size());
    if (length < width_) line.append(static_cast<std::size_t>(width_ - length), ' ');
    *out_ << '\r' << line;
    if (end_line) *out_ << '\n';
    out_->flush();
    width_ = length;
}

std::string DownloadMeter::format_size(std::int64_t bytes) {
    char text[32];
    if (bytes < 0) return "?";
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%lld B", static_cast<long long>(bytes));
        return text;
    }
    double value = static_cast<double>(bytes) / 1024.0;
    if (value < 1024.0) {
        std::snprintf(text, sizeof text, "%.1f KB", value);
    } else if ((value /= 1024.0) < 1024.0) {
        std::snprintf(text, sizeof text, "%.1f MB", value);
    } else {
        std::snprintf(text, sizeof text, "%.2f GB", value / 1024.0);
    }
    return text;
}

std::string DownloadMeter::render_bar(std::int64_t received, std::int64_t total, int cells) {
    std::string bar = "[";
    if (total < 1) {
        const std::int64_t marker = (received / kMarkerStep) % cells;
        for (int i = 0; i < cells; ++i) bar += i == marker ? '>' : '-';
        return bar + "]";
    }
    std::int64_t filled = cells * received / total;
    if (filled > cells) filled = cells;
    if (filled < 0) filled = 0;
    for (std::int64_t i = 0; i < cells; ++i) {
        if (i == filled - 1 && received < total) {
            bar += '>';
        } else {
            bar += i < filled ? '=' : ' ';
        }
    }
    return bar + "]";
}

}  // namespace tarncore::platform
