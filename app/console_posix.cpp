#include "app/console.h"

#include <termios.h>
#include <unistd.h>

namespace tarncore::platform {

// The terminal's title belongs to the shell that started us; left alone.
void set_console_title(const char*) {}

// A terminal is always shared with the shell that started the program, as a
// command prompt is on Windows, so a development run never pauses.
bool is_own_console() {
    return false;
}

// Nearest terminal behaviour: drop typed-ahead input, read one key unechoed.
void wait_for_key_press() {
    if (!isatty(STDIN_FILENO)) return;
    termios old{};
    if (tcgetattr(STDIN_FILENO, &old) != 0) return;
    termios raw = old;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw);
    char key = 0;
    (void)!read(STDIN_FILENO, &key, 1);
    tcsetattr(STDIN_FILENO, TCSANOW, &old);
}

// There is no console window to open on a development build; the command
// line is cmd.exe's and is only ever started on Windows.
void start_console_window(const NativeString&) {}

}  // namespace tarncore::platform
