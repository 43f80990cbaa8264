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

/// Runs argv[0] (a Unix path) with the arguments to its end; its exit code,
/// or -1 when it could not be run. Under Wine this waits for the Linux
/// program itself, which a Win32 process handle of it would not.
int run_host_program(const std::vector<std::string>& argv);

/// Zips what the folder holds into `zip` with bsdtar; true when it succeeded.
bool make_zip(const tarncore::Path& folder, const tarncore::Path& zip);

}  // namespace tarntest
