// An Error as one line, so that a test compares every field at once and a
// failure shows them all.
#pragma once

#include <string>

#include "support/error.h"

namespace tarntest {

inline std::string error_text(const tarncore::Error& e) {
    return std::to_string(e.code) + " " + e.module + " " + e.function + ": " + e.message +
           (e.traceback.empty() ? "" : " | " + e.traceback);
}

}  // namespace tarntest
