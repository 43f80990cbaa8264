#include "install/modules.h"

#include <cstring>

#include "support/layout.h"
#include "payload/module_table.h"

namespace tarncore {

Error write_module_files() {
    const Path modules = modules_dir();
    const Path copies = versions_dir() / kModuleVersion / "modules";
    for (const ModuleEntry& entry : kModuleTable) {
        // The table's '/' separators become this platform's separators.
        const Path relative = Path(entry.path).make_preferred();
        const Path target = modules / relative;
        (void)ensure_dir(target.parent_path());
        const Placement placed =
            place_bytes(target, std::string_view(entry.source, std::strlen(entry.source)));
        if (!placed.ok())
            return with_placement(install_error("Could not write " + path_text(target)), target,
                                  placed);
        (void)copy_with_parents(target, copies / relative);
    }
    return Error();
}

bool needs_repair() {
    if (path_exists(install_pending_path()) || !path_exists(bin_dir() / kAliasFileName))
        return true;
    for (const ModuleEntry& entry : kModuleTable) {
        if (regular_file_size(modules_dir() / Path(entry.path).make_preferred()).value_or(0) == 0)
            return true;
    }
    return false;
}

bool is_installed() {
    if (!path_exists(bin_dir() / kRuntimeFileName)) return false;
    return path_exists(modules_dir() / "discord" / "init.lua");
}

}  // namespace tarncore
