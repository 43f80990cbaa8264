// One file of an extra tool fetched over HTTP: checked by status and a minimum
// size only, written as it arrives and given its name once it passed.
#pragma once

#include <string>

#include "support/download_meter.h"
#include "support/error.h"
#include "support/system.h"

namespace tarncore::discordvoice {

/// Downloads `url` to `destination` (its folder created), drawing progress on
/// `meter` and leaving its line open for the caller.
Error download_file(const std::string& url, const Path& destination,
                    platform::DownloadMeter& meter);

}  // namespace tarncore::discordvoice
