// The installation as Windows lists it: the setup's own copy in the root, the
// Apps & Features entry that runs that copy to uninstall, and the Start menu
// shortcut to a ready console. Platform files registration_win32/posix.cpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/error.h"
#include "support/layout.h"
#include "support/system.h"

namespace tarncore {

/// One value of the entry: text (REG_SZ) or a number (REG_DWORD).
struct EntryValue {
    std::string name;
    NativeString text;
    std::uint32_t number = 0;
    bool is_number = false;
};

/// root\Tarnwick-Setup.exe, which the entry's uninstall commands run.
Path setup_copy_path(const Layout& layout);
/// Every value of the Apps & Features entry for the installation as it is now.
std::vector<EntryValue> uninstall_entry_values(const Layout& layout);
/// The arguments of cmd.exe for a console whose PATH starts with the bin folder.
NativeString ready_console_arguments(const Layout& layout);

/// Places the setup's copy, then writes the entry and the shortcut; the first
/// failure is returned, and the install keeps what was done.
Error register_installation(const Layout& layout);
/// Removes the entry and the shortcut; missing ones count as removed.
void unregister_installation();

/// Run from the root's copy, the program moves itself to the temporary
/// folder, since a running program can be moved but not deleted, and returns
/// where it went; otherwise the empty path.
Path move_setup_copy_aside(const Layout& layout);
/// After the removal: deleted when it ran (a running image by a helper once
/// this process has ended), put back when the removal failed, so that the
/// entry's commands still work.
void settle_setup_copy(const Layout& layout, const Path& moved, bool removed);

/// The switch, followed by a handle of the process to outlive, that starts
/// the program as the helper deleting the moved copy, and the helper's file.
inline constexpr char kCopyRemoverSwitch[] = "--remove-moved-copy";
inline constexpr char kCopyRemoverName[] = "Tarnwick-Setup-remover.exe";
/// Only the helper's own file takes the switch; anywhere else it is ignored
/// like any unknown argument.
bool is_copy_remover(int argc, const char* const* argv);
/// The helper's run: waits for the uninstall's process to end, then deletes
/// the moved copy beside its own file; 0 when it is gone.
int run_copy_remover(const char* process_handle);

namespace platform {

/// Starts a copy of the program beside `moved`, opened for deletion on close
/// with the handle it inherits, as the helper deleting `moved` after this
/// process; the copy then goes when the helper ends. False when it could not
/// be started (POSIX: never needed, a running program can be deleted).
bool start_copy_remover(const Path& moved);
/// Waits until the process of the handle has ended (Windows).
void wait_for_process(const char* process_handle);

bool write_uninstall_entry(const std::vector<EntryValue>& values);
/// The stored values; empty when there is no entry.
std::vector<EntryValue> read_uninstall_entry();
bool delete_uninstall_entry();

struct Shortcut {
    Path target;
    NativeString arguments;
    Path icon;
};
/// "Tarnwick Console" in the user's Start menu programs (IShellLinkW).
Path start_menu_shortcut_path();
/// cmd.exe of the system (the shortcut's target).
Path command_processor();
bool create_shortcut(const Path& link, const Shortcut& shortcut);
/// What a shortcut file points at; false when it cannot be read.
bool read_shortcut(const Path& link, Shortcut& shortcut);

}  // namespace platform
}  // namespace tarncore
