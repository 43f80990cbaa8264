#include "install/modules.h"

#include <cstring>

#include "support/layout.h"
#include "payload/module_table.h"

namespace tarncore {

Error write_module_files(const Layout& layout) {
    const Path& modules = layout.modules;
    const Path copies = layout.versions / kModuleVersion / "modules";
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

bool needs_repair(const Layout& layout) {
    if (path_exists(layout.install_pending) || !path_exists(layout.bin / kAliasFileName))
        return true;
    for (const ModuleEntry& entry : kModuleTable) {
        if (regular_file_size(layout.modules / Path(entry.path).make_preferred()).value_or(0) == 0)
            return true;
    }
    return false;
}

bool is_installed(const Layout& layout) {
    if (!path_exists(layout.bin / kRuntimeFileName)) return false;
    return path_exists(layout.modules / "discord" / "init.lua");
}

}  // namespace tarncore
