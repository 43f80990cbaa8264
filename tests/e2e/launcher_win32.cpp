// Starts a program with one variable of its environment set from inside Wine
// (a LOCALAPPDATA set outside does not reach a Windows program), its standard
// streams the launcher's own; ends with the program's exit code.
//     launcher.exe NAME=VALUE PROGRAM [ARGUMENT...]
#include <string>

#include "support/win32.h"

#include <shellapi.h>

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 3) return 2;
    const std::wstring setting = argv[1];
    const std::size_t equals = setting.find(L'=');
    if (equals == std::wstring::npos ||
        !SetEnvironmentVariableW(setting.substr(0, equals).c_str(),
                                 setting.substr(equals + 1).c_str())) {
        return 2;
    }
    std::wstring line;
    for (int i = 2; i < argc; ++i) line += (i > 2 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    for (HANDLE* h : {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError}) {
        *h = GetStdHandle(h == &startup.hStdInput    ? STD_INPUT_HANDLE
                          : h == &startup.hStdOutput ? STD_OUTPUT_HANDLE
                                                     : STD_ERROR_HANDLE);
        SetHandleInformation(*h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(argv[2], line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &info)) {
        return 3;
    }
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    return static_cast<int>(code);
}
