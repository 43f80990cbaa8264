// An Error as one line: a test compares all fields at once and sees them all.
#pragma once

#include <string>

#include "support/error.h"

namespace tarntest {

inline std::string error_text(const tarncore::Error& e) {
    return std::to_string(e.code) + " " + e.module + " " + e.function + ": " + e.message +
           (e.traceback.empty() ? "" : " | " + e.traceback);
}

/// The text without the system's reason that a file failure ends with, " (...)":
/// its words differ between systems.
inline std::string without_reason(std::string text) {
    const std::size_t open = text.rfind(" (");
    if (!text.empty() && text.back() == ')' && open != std::string::npos) text.erase(open);
    return text;
}

}  // namespace tarntest
