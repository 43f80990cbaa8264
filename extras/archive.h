// Tools that come as a zip archive: downloaded into the cache, unpacked by the
// system's tar in a child process, and the wanted files copied to the tools folder.
#pragma once

#include <cstdint>
#include <string>

#include "extras/extras.h"
#include "support/download_meter.h"
#include "support/error.h"
#include "support/system.h"

namespace tarncore::discordvoice {

/// How long tar may take and how often it is asked; tests shorten them.
struct ExtractLimits {
    std::int64_t limit_ms = 120000;
    std::uint32_t poll_ms = 50;
};

/// Runs "tar -xf <archive> -C <folder>" (tar found as find_executable finds
/// it) and waits for its end; its exit code
/// is not read (a failed unpack shows as a missing file afterwards).
Error extract_archive(const Path& archive, const Path& folder, const Path& installation_root,
                      const ExtractLimits& limits = {});

/// The first entry below `root` (in the walk's order) whose own name equals
/// `file_name` exactly, file or folder; empty when none.
Path find_in_tree(const Path& root, const std::string& file_name);

/// Downloads the row's archive to cache\extras\<id>\<id>.zip, unpacks it into
/// "extract" beside it and copies the primary (and, if found, the secondary)
/// file into the tools folder.
Error install_from_archive(const Layout& layout, const ExtraComponent& row,
                           const Path& tools_folder, platform::DownloadMeter& meter);

}  // namespace tarncore::discordvoice
