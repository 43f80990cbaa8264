// Programs of the build machine run from a test or a test tool, also under
// Wine: bsdtar makes and unpacks the archives of the extras tests.
#pragma once

#include <string>
#include <vector>

#include "support/system.h"

namespace tarntest {

/// The build machine's path of a file this process sees (under Wine the Unix
/// name of a Windows path); empty when it has none.
std::string unix_path(const tarncore::Path& path);

/// This program's arguments after its name, as the system passed them (from
/// the wide command line on Windows).
std::vector<tarncore::Path> program_arguments(int argc, char** argv);

/// Runs argv[0] (a Unix path) with the arguments and this process's standard
/// streams; with `wait`, to its end: its exit code, or -1 when it could not be
/// run; without, 0 once it started, and it must end by itself. Under Wine this
/// spawns the Linux program itself, whose Win32 process handle would signal at
/// once and could not end it.
int run_host_program(const std::vector<std::string>& argv, bool wait = true);

}  // namespace tarntest
