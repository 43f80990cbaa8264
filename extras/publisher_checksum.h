// The SHA-256 that a tool's publisher serves beside its download, fetched
// quietly (no meter, no line) once the download has arrived, before anything
// of it is written.
#pragma once

#include <string>
#include <string_view>

#include "extras/component_download.h"
#include "extras/extras.h"
#include "support/error.h"

namespace tarncore::discordvoice {

/// The lower-case hex digest for `file_name` in a checksum file: a line
/// "<sha256>" alone, or "<sha256>  <name>" (also "*<name>"); empty when none.
std::string checksum_for(std::string_view listing, std::string_view file_name);

/// Compares a downloaded body of the row with its publisher's checksum; no
/// check for a row without a checksum address.
BodyCheck publisher_checksum(const ExtraComponent& row);

}  // namespace tarncore::discordvoice
