// The setup program's flows: the status screen with its menus, the install
// run, and the uninstall dialogue. Each returns the process exit code.
#pragma once

#include <string>

#include "support/error.h"
#include "support/layout.h"
#include "support/system.h"
#include "update/update_client.h"

namespace tarncore {

/// The switches of the command line; anything else on it is ignored.
struct CommandLine {
    bool silent = false;
    bool uninstall = false;
};

/// Reads argv[1..argc-1]; only exact, case-sensitive switches count.
CommandLine parse_command_line(int argc, const char* const* argv);

/// Reads the answers to the menus.
class Prompt {
public:
    virtual ~Prompt() = default;
    /// One line without its line feed; end of input is empty.
    virtual std::string read_choice() = 0;
};

/// The program's prompt: standard input.
class ConsolePrompt final : public Prompt {
public:
    std::string read_choice() override;
};

/// What a flow works on, resolved once by main and handed down.
struct SetupContext {
    Layout layout;
    Prompt& prompt;
    const UpdateSource& updates;
};

/// The "Runtime Error" report on standard error; what the error keeps for the
/// log alone goes to the log beside it.
void report(const Error& error);
/// Sets the console title and prints the banner.
void show_banner();
int run_setup(const SetupContext& context, bool silent);
int run_uninstall(const SetupContext& context, bool silent);

/// Installs the runtime, then the extras; 1 when either failed. A signed
/// download's version is noted as the floor once the install has committed.
int run_install(const SetupContext& context, const Path& runtime_source, bool silent,
                const std::string& signed_version = {});
/// The extras flow with its report; 0 or 1.
int run_extras(const Layout& layout, bool refresh);
void show_success_screen(const Layout& layout);
/// A new console window whose PATH already holds the bin folder.
void open_ready_shell(const Layout& layout);

/// The run's log file, logs\setup.log: the version and the command line first;
/// kept in memory until the installation's logs folder exists.
void begin_run_log(const Layout& layout, int argc, const char* const* argv);
/// Starts writing the file once the logs folder is there; called again when
/// an install may have made it.
void attach_run_log(const Layout& layout);
void end_run_log(const Layout& layout, int exit_code);

/// The end-of-run pause line, then a key press read from the console.
void wait_for_any_key();

}  // namespace tarncore
