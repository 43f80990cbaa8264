#include "support/release_keys.h"

namespace tarncore {
namespace {

// Written by CMake from TARN_RELEASE_KEYS: kReleaseKeys and kReleaseKeyCount.
#include "tarn_release_keys.inc"

}  // namespace

std::span<const std::string_view> release_keys() {
    return {kReleaseKeys, kReleaseKeyCount};
}

bool release_build() {
    return kReleaseKeyCount > 0;
}

}  // namespace tarncore
