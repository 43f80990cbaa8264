#include "support/child_process.h"
#include "support/win32.h"

#include <algorithm>
#include <vector>

namespace tarncore {
namespace {

Error start_error(const char* message) {
    return Error(kErrProcess, "runtime", "ChildProcess.start", message);
}

HANDLE as_handle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

void close_handle(std::intptr_t& value) {
    if (value != -1 && value != 0) CloseHandle(as_handle(value));
    value = -1;
}

void drain(std::intptr_t output) {
    char buffer[65536];
    DWORD available = 0;
    for (int i = 0; i < ChildProcess::kDrainReads && output != -1 &&
                    PeekNamedPipe(as_handle(output), nullptr, 0, nullptr, &available, nullptr) &&
                    available > 0;
         ++i) {
        DWORD got = 0;
        if (!ReadFile(as_handle(output), buffer, std::min<DWORD>(available, sizeof buffer), &got,
                      nullptr) ||
            got == 0) {
            return;
        }
    }
}

}  // namespace

Path search_program_path(const std::string& name, const char* extension) {
    const std::wstring file = native_from_text(name);
    const std::wstring suffix = extension != nullptr ? native_from_text(extension) : L"";
    const wchar_t* ext = extension != nullptr ? suffix.c_str() : nullptr;
    std::vector<wchar_t> found(MAX_PATH);
    for (;;) {
        const DWORD length = SearchPathW(nullptr, file.c_str(), ext,
                                         static_cast<DWORD>(found.size()), found.data(), nullptr);
        if (length == 0) return {};
        if (length < found.size()) return Path(std::wstring(found.data(), length));
        found.resize(length + 1);  // the size it asked for, with its NUL
    }
}

void ChildProcess::start(ChildProcess& child, Error& error, const Path& program,
                         const std::vector<NativeString>& arguments,
                         const EnvironmentMap& environment, bool merge_stderr) {
    terminate(child);
    error = Error();
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE input_read = nullptr, input_write = nullptr;
    HANDLE output_read = nullptr, output_write = nullptr;
    if (!CreatePipe(&input_read, &input_write, &inherit, 0)) {
        error = start_error("CreatePipe failed");
        return;
    }
    SetHandleInformation(input_write, HANDLE_FLAG_INHERIT, 0);
    if (!CreatePipe(&output_read, &output_write, &inherit, 0)) {
        CloseHandle(input_read);
        CloseHandle(input_write);
        error = start_error("CreatePipe failed");
        return;
    }
    SetHandleInformation(output_read, HANDLE_FLAG_INHERIT, 0);
    child.input_ = reinterpret_cast<std::intptr_t>(input_write);
    child.output_ = reinterpret_cast<std::intptr_t>(output_read);

    HANDLE null_device = INVALID_HANDLE_VALUE;
    if (!merge_stderr) {
        null_device = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                  0, nullptr);
    }
    std::wstring line = command_line(program, arguments);
    std::wstring block;
    if (!environment.empty()) {
        std::vector<std::wstring> parent;
        if (wchar_t* strings = GetEnvironmentStringsW()) {
            for (const wchar_t* entry = strings; *entry != L'\0';
                 entry += parent.back().size() + 1) {
                parent.emplace_back(entry);
            }
            FreeEnvironmentStringsW(strings);
        }
        for (const std::wstring& entry : merged_environment(parent, environment)) {
            block += entry;
            block.push_back(L'\0');
        }
        block.push_back(L'\0');
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input_read;
    startup.hStdOutput = output_write;
    startup.hStdError = null_device != INVALID_HANDLE_VALUE ? null_device : output_write;
    PROCESS_INFORMATION info{};
    const BOOL created =
        CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, TRUE,
                       CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                       block.empty() ? nullptr : block.data(), nullptr, &startup, &info);
    CloseHandle(input_read);
    CloseHandle(output_write);
    if (null_device != INVALID_HANDLE_VALUE) CloseHandle(null_device);
    if (!created) {
        close_handle(child.input_);
        close_handle(child.output_);
        error = start_error("CreateProcess failed");
        return;
    }
    child.process_ = reinterpret_cast<std::intptr_t>(info.hProcess);
    child.thread_ = reinterpret_cast<std::intptr_t>(info.hThread);
    child.pid_ = info.dwProcessId;
}

bool ChildProcess::running(ChildProcess& child) {
    if (child.process_ == kNone) return false;
    drain(child.output_);
    return WaitForSingleObject(as_handle(child.process_), 0) == WAIT_TIMEOUT;
}

void ChildProcess::terminate(ChildProcess& child) {
    if (child.process_ != kNone) {
        TerminateProcess(as_handle(child.process_), 1);
        close_handle(child.process_);
    }
    close_handle(child.thread_);
    close_handle(child.input_);
    close_handle(child.output_);
}

}  // namespace tarncore
