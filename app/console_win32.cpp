#include "app/console.h"
#include "support/win32.h"

#include <vector>

namespace tarncore::platform {

void set_console_title(const char* title) {
    SetConsoleTitleA(title);
}

bool is_own_console() {
    // A failing call (0) counts as our own console too.
    DWORD ids[8];
    return GetConsoleProcessList(ids, 8) <= 1;
}

void wait_for_key_press() {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return;
    // The release of the Enter key that answered a menu must not end the pause.
    FlushConsoleInputBuffer(input);
    for (;;) {
        INPUT_RECORD record;
        DWORD count = 0;
        if (!ReadConsoleInputW(input, &record, 1, &count) || count != 1) return;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
    }
}

void start_console_window(const NativeString& command_line) {
    std::vector<wchar_t> buffer(command_line.begin(), command_line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                        nullptr, nullptr, &startup, &process)) {
        return;
    }
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
}

}  // namespace tarncore::platform
