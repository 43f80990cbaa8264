#include "support/child_process.h"
#include "support/win32.h"

#include <algorithm>

// The ANSI block, as the rest of the start-up is ANSI; UNICODE maps the name to W.
#undef GetEnvironmentStrings

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

std::string search_program_path(const std::string& name, const char* extension) {
    char found[MAX_PATH];
    const DWORD length = SearchPathA(nullptr, name.c_str(), extension, MAX_PATH, found, nullptr);
    return length >= 1 && length < MAX_PATH ? std::string(found, length) : std::string();
}

void ChildProcess::start(ChildProcess& child, Error& error, const std::string& program,
                         const std::vector<std::string>& arguments,
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
        null_device = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                  0, nullptr);
    }
    std::string resolved = find_executable(program);
    if (resolved.empty()) resolved = program;
    std::string line = command_line(resolved, arguments);
    std::string block;
    if (!environment.empty()) {
        std::vector<std::string> parent;
        if (char* strings = GetEnvironmentStrings()) {
            for (const char* entry = strings; *entry != '\0'; entry += parent.back().size() + 1) {
                parent.emplace_back(entry);
            }
            FreeEnvironmentStringsA(strings);
        }
        for (const std::string& entry : merged_environment(parent, environment)) {
            block += entry;
            block.push_back('\0');
        }
        block.push_back('\0');
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input_read;
    startup.hStdOutput = output_write;
    startup.hStdError = null_device != INVALID_HANDLE_VALUE ? null_device : output_write;
    PROCESS_INFORMATION info{};
    const BOOL created =
        CreateProcessA(resolved.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
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
