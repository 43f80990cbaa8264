// Starts a program for a test and makes sure it is gone when the test ends
// (a running runtime holding its executable open, a local server ...).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/system.h"

namespace tarntest {

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Starts program with the arguments (quoted as needed); its standard
    /// streams are the test's own. False when it could not be started.
    bool start(const tarncore::Path& program, const std::vector<std::string>& args);
    /// True while the process has not ended.
    bool running() { return handle_ != 0 && wait(0) == -1; }
    /// Waits up to timeout_ms for the end; the exit code, or -1 when it is
    /// still running.
    int wait(std::uint32_t timeout_ms);
    /// Ends the process at once and waits for it.
    void kill();

private:
    std::intptr_t handle_ = 0;  // process handle (Windows) or pid (POSIX); 0 when none
    int exit_code_ = -1;
};

}  // namespace tarntest
