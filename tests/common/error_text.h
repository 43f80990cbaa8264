// An Error as one line: a test compares all fields at once and sees them all.
#pragma once

#include <string>

#include "support/error.h"

namespace tarntest {

inline std::string error_text(const tarncore::Error& e) {
    return std::to_string(e.code) + " " + e.module + " " + e.function + ": " + e.message +
           (e.traceback.empty() ? "" : " | " + e.traceback);
}

}  // namespace tarntest
