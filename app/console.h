// The console calls of the front end (console_win32.cpp, console_posix.cpp).
#pragma once

#include <string_view>

#include "support/system.h"

namespace tarncore::platform {

void set_console_title(const char* title);
/// True when no other process shares the console (double-clicked setup).
bool is_own_console();
/// Drops input queued earlier, then waits for one key press.
void wait_for_key_press();
/// Starts the command line in a new console window; failures are silent.
void start_console_window(const NativeString& command_line);

}  // namespace tarncore::platform
