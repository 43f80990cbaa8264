// Outside programs: finding one the way the setup expects, and running one
// with piped standard streams and no window, polled and ended by its caller.
// Program, arguments and environment reach the child in the platform's own
// strings (UTF-16 on Windows), so a path the ANSI code page cannot spell
// arrives intact. Platform files: child_process_win32.cpp / child_process_posix.cpp.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/error.h"
#include "support/system.h"

namespace tarncore {

/// Variables added to (or replacing those of) the parent's environment,
/// written in key order; names compare bytewise.
using EnvironmentMap = std::map<std::string, std::string>;

/// The path of a program: a search-path hit (with ".exe", then without); a
/// name with a folder part or root when something exists there; else
/// tools\<name> (".exe" added to a name without a dot) beside the program, in
/// the installation root, in the current folder, when it is a file of more
/// than kUsableToolBytes (a cut copy is no tool). Empty when not found.
Path find_executable(const std::string& name, const Path& installation_root);

/// A tool file of this size or less is what a stopped copy leaves, not a tool.
inline constexpr std::uint64_t kUsableToolBytes = 1024;

class ChildProcess {
public:
    ChildProcess() = default;
    /// Terminates a child still held and closes everything, like terminate.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// Starts `program` (a path, or a bare name the system searches for) with the arguments;
    /// standard error goes to the output pipe with merge_stderr, else to the
    /// null device. Errors: "CreatePipe failed", "CreateProcess failed".
    static void start(ChildProcess& child, Error& error, const Path& program,
                      const std::vector<NativeString>& arguments, const EnvironmentMap& environment,
                      bool merge_stderr);
    /// True while a started child has not ended. Also reads and discards what
    /// the child has written so far: nothing uses its output, and a full pipe
    /// would stall a talkative tar until the time-out ends it.
    static bool running(ChildProcess& child);
    /// Ends the child if it is still held and releases its handles.
    static void terminate(ChildProcess& child);

    /// Reads of up to 64 KiB that one poll drains at most, so a child that
    /// never stops writing cannot keep running() from returning.
    static constexpr int kDrainReads = 16;

private:
    static constexpr std::intptr_t kNone = -1;
    // Win32 handles, or on POSIX the pid and file descriptors; kNone when none.
    std::intptr_t process_ = kNone;
    std::intptr_t thread_ = kNone;
    std::intptr_t input_ = kNone;   // the parent's end of the child's standard input
    std::intptr_t output_ = kNone;  // the parent's end of the child's standard output
    std::uint32_t pid_ = 0;
};

/// The command line the child gets: the program and each argument between
/// double quotes, separated by single spaces, nothing escaped.
NativeString command_line(const Path& program, const std::vector<NativeString>& arguments);

/// The child's environment as "name=value" entries: the parent's entries whose
/// name (the text before the first '=') is not a key of `extra`, then `extra`.
std::vector<NativeString> merged_environment(const std::vector<NativeString>& parent,
                                             const EnvironmentMap& extra);

/// The platform's search of its program path for `name` with `extension`
/// added when the name has none (SearchPathW, no length limit); empty when
/// nothing is found.
Path search_program_path(const std::string& name, const char* extension);

}  // namespace tarncore
