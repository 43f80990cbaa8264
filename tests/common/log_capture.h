// The logger's lines, collected for a test, through the console capture.
#pragma once

#include "tests/common/console_capture.h"

namespace tarntest {

using LogCapture = ConsoleCapture;

}  // namespace tarntest
