// A zip archive's central directory, read by the program itself before tar
// sees the archive: what the archive would unpack is checked first.
#pragma once

#include <cstdint>
#include <string>

#include "support/error.h"
#include "support/system.h"

namespace tarncore::discordvoice {

struct ZipLimits {
    std::uint64_t max_entries = 20000;
    std::uint64_t max_unpacked_bytes = std::uint64_t{2} << 30;
};

/// Refuses an archive that is no readable zip, has more entries or unpacks
/// to more bytes than the limits, or holds a link (a Unix symbolic link or a
/// Windows reparse point) or a name that is absolute, has a drive or a
/// stream (":"), or a ".." part. Code 9, module "setup", function "installExtras".
Error check_zip_archive(const Path& archive, const ZipLimits& limits = {});

}  // namespace tarncore::discordvoice
