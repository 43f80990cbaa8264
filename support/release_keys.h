// The release keys this build trusts (CMake's TARN_RELEASE_KEYS): minisign
// public-key strings. A build with keys is a release build and takes no
// shortcut for addresses of this machine.
#pragma once

#include <span>
#include <string_view>

namespace tarncore {

/// Up to two keys, the second for rotation; empty in a build without keys.
std::span<const std::string_view> release_keys();
/// Whether this build carries release keys.
bool release_build();

}  // namespace tarncore
