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
        if (!write_file(target, std::string_view(entry.source, std::strlen(entry.source)))) {
            return install_error("Could not write " + path_text(target));
        }
        (void)copy_with_parents(target, copies / relative);
    }
    return Error();
}

bool is_installed() {
    if (!path_exists(bin_dir() / kRuntimeFileName)) return false;
    return path_exists(modules_dir() / "discord" / "init.lua");
}

}  // namespace tarncore
