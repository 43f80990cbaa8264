// The setup program's flows: the status screen with its menus, the install
// run, and the uninstall dialogue. Each returns the process exit code.
#pragma once

#include <string>

#include "support/error.h"
#include "support/system.h"

namespace tarncore {

/// The switches of the command line; anything else on it is ignored.
struct CommandLine {
    bool silent = false;
    bool uninstall = false;
};

/// Reads argv[1..argc-1]; only exact, case-sensitive switches count.
CommandLine parse_command_line(int argc, const char* const* argv);

/// The "Runtime Error" report on standard error; what the error keeps for the
/// log alone goes to the log beside it.
void report(const Error& error);
/// Sets the console title and prints the banner.
void show_banner();
/// One line of standard input without its line feed; end of input is empty.
std::string read_choice();

int run_setup(bool silent);
int run_uninstall(bool silent);

/// Installs the runtime, then the extras; 1 when either failed. A signed
/// download's version is noted as the floor once the install has committed.
int run_install(const Path& runtime_source, bool silent, const std::string& signed_version = {});
/// The extras flow with its report; 0 or 1.
int run_extras(bool refresh);
void show_success_screen();
/// A new console window whose PATH already holds the bin folder.
void open_ready_shell();

/// The run's log file, logs\setup.log: the version and the command line first;
/// kept in memory until the installation's logs folder exists.
void begin_run_log(int argc, const char* const* argv);
/// Starts writing the file once the logs folder is there; called again when
/// an install may have made it.
void attach_run_log();
void end_run_log(int exit_code);

/// The end-of-run pause line, then a key press read from the console.
void wait_for_any_key();

}  // namespace tarncore
