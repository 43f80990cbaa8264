// One file of an extra tool fetched over HTTP: checked by status and a minimum
// size only, written as it arrives and given its name once it passed.
#pragma once

#include <functional>
#include <string>

#include "support/download_meter.h"
#include "support/error.h"
#include "support/system.h"

namespace tarncore::discordvoice {

/// A last look at a whole body, by its SHA-256 (lower-case hex), before it
/// takes its name; a failure keeps it off disk.
using BodyCheck = std::function<Error(const std::string& sha256)>;

/// Downloads `url` to `destination` (its folder created), drawing progress on
/// `meter` and leaving its line open for the caller.
Error download_file(const std::string& url, const Path& destination, platform::DownloadMeter& meter,
                    const BodyCheck& check = {});

}  // namespace tarncore::discordvoice
