// Helpers shared by the tests and the test tools: scratch folders and
// environment overrides that undo themselves, the paths of the test tools, and
// programs of the build machine run from a test or a test tool, also under
// Wine (bsdtar makes and unpacks the archives of the extras tests).
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/system.h"

namespace tarntest {

using tarncore::Path;

/// prefix and a suffix no other test process picks.
std::string unique_name(const std::string& prefix);

/// A fresh folder under the system's temporary folder, removed (read-only
/// files included) when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const Path& path() const { return path_; }

private:
    Path path_;
};

/// Sets (or, with nullopt, unsets) an environment variable of the test
/// process and restores the previous state at scope exit.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<tarncore::NativeString> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<tarncore::NativeString> old_;
};

/// Makes folder the current folder until the end of the scope.
class ScopedCurrentDir {
public:
    explicit ScopedCurrentDir(const Path& folder);
    ~ScopedCurrentDir();

private:
    Path old_;
};

/// Path of a program built from tests/tools/<name>.cpp, as this platform sees it.
Path test_tool(const std::string& name);
/// A folder of the source tree (tests/data ...), as this platform sees it.
Path source_path(const std::string& relative);
/// Converts a path of the build machine ("/work/...") for this platform
/// (under Wine: "Z:\work\...").
Path host_path(const std::string& unix_path);

/// Every file below root, by its relative path with "/" separators.
std::set<std::string> files_below(const Path& root);
/// Makes link a symbolic link to target, a file or a folder: natively a POSIX
/// link; under Wine a Unix link in the prefix's drive, which Windows programs
/// see as a plain file or folder, not as a reparse point.
bool make_link(const Path& link, const Path& target);

/// Makes a file or folder read-only (true) or writable again (false).
void set_read_only(const Path& path, bool read_only);
/// The platform part of set_read_only for folders: Windows ignores the
/// read-only attribute of a folder, so under Wine the host folder's own
/// permissions are changed instead.
void set_folder_read_only(const Path& path, bool read_only);

/// The build machine's path of a file this process sees (under Wine the Unix
/// name of a Windows path); empty when it has none.
std::string unix_path(const Path& path);

/// This program's arguments after its name, as the system passed them (from
/// the wide command line on Windows).
std::vector<Path> program_arguments(int argc, char** argv);

/// Runs argv[0] (a Unix path) with the arguments and this process's standard
/// streams; with `wait`, to its end: its exit code, or -1 when it could not be
/// run; without, 0 once it started, and it must end by itself. Under Wine this
/// spawns the Linux program itself, whose Win32 process handle would signal at
/// once and could not end it.
int run_host_program(std::vector<std::string> argv, bool wait = true);

}  // namespace tarntest
