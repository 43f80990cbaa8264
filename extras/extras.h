// The extra tools of the runtime's voice support (FFmpeg with ffprobe, and
// yt-dlp): the built-in catalogue and the flow that installs or refreshes them
// in the installation's tools folder.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "support/error.h"
#include "support/layout.h"
#include "support/system.h"

namespace tarncore::discordvoice {

/// One row of the catalogue.
struct ExtraComponent {
    std::string_view id;
    std::string_view display_name;
    bool archive;          // the url names a zip archive holding the files
    std::string_view url;  // empty: no automatic download
    std::string_view primary_file;
    std::string_view secondary_file;  // empty: none
    bool refreshable;                 // downloaded again by a refreshing run although present
    /// The checksum file the publisher serves beside the download: a line of
    /// a SHA-256 in hex, and the file's name when the file lists several.
    std::string_view checksum_url;  // empty: nothing to check against
};

inline constexpr ExtraComponent kExtrasCatalogue[] = {
    {"ffmpeg", "FFmpeg", true, "https://www.gyan.dev/ffmpeg/builds/ffmpeg-release-essentials.zip",
     "ffmpeg.exe", "ffprobe.exe", false,
     "https://www.gyan.dev/ffmpeg/builds/ffmpeg-release-essentials.zip.sha256"},
    {"yt-dlp", "yt-dlp", false,
     "https://github.com/yt-dlp/yt-dlp/releases/latest/download/yt-dlp.exe", "yt-dlp.exe", "", true,
     "https://github.com/yt-dlp/yt-dlp/releases/latest/download/SHA2-256SUMS"},
};

/// Makes sure every catalogue tool is in the tools folder, downloading what is
/// missing and, with `refresh`, renewing refreshable tools. Stops at the first
/// row that fails, after its two failure lines on standard error.
Error installExtras(const Layout& layout, bool refresh);
/// installExtras over the given rows; calls run one at a time.
Error install_extras(const Layout& layout, bool refresh, std::span<const ExtraComponent> rows);

/// One row under its "  [index/count] name" header.
Error install_component(const Layout& layout, const ExtraComponent& row, const Path& tools_folder,
                        bool refresh, int index, int count);

/// `name` ("tools", "cache") in the installation root, or beside the program
/// when there is no root, so nothing lands relative to the current folder.
Path extras_folder(const Layout& layout, std::string_view name);

/// An existing copy of a tool anywhere the setup would look; empty when none.
Path locate_tool(const Layout& layout, const std::string& stem);

/// A regular file of more than 1024 bytes.
bool usable_file(const Path& path);

/// A failure of the extras flow's own: module "setup", function "installExtras".
Error extras_error(std::uint32_t code, std::string message);

}  // namespace tarncore::discordvoice
