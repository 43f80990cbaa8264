#include "tests/common/child_process.h"

#include "support/win32.h"

namespace tarntest {

namespace {

// The quoting rules of CommandLineToArgvW, so the child sees each argument whole.
std::wstring quote(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');
    out.push_back(L'"');
    return out;
}

}  // namespace

bool ChildProcess::start(const tarncore::Path& program, const std::vector<std::string>& args) {
    kill();
    std::wstring command = quote(program.wstring());
    for (const std::string& arg : args) command += L" " + quote(tarncore::native_from_text(arg));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    handle_ = reinterpret_cast<std::intptr_t>(info.hProcess);
    exit_code_ = -1;
    return true;
}

int ChildProcess::wait(std::uint32_t timeout_ms) {
    if (handle_ == 0) return exit_code_;
    HANDLE process = reinterpret_cast<HANDLE>(handle_);
    if (WaitForSingleObject(process, timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    handle_ = 0;
    exit_code_ = static_cast<int>(code);
    return exit_code_;
}

void ChildProcess::kill() {
    if (handle_ == 0) return;
    TerminateProcess(reinterpret_cast<HANDLE>(handle_), 1);
    wait(INFINITE);
}

}  // namespace tarntest
