// Version texts: the installed one from the install record, the latest one
// from the update service; the installation also names folders after them.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarncore {

/// Numeric triple; pre-release and build suffixes play no part.
struct Version {
    std::int32_t major = 0;
    std::int32_t minor = 0;
    std::int32_t patch = 0;
};

/// Never fails: unreadable text gives 0.0.0.
Version parse_version(std::string_view text);
/// Whether a text counts as a version at all (digit first, after one optional v).
bool is_valid_version(std::string_view text);
/// -1, 0 or 1 as a orders before, equal to, or after b.
int compare_versions(const Version& a, const Version& b);

}  // namespace tarncore
