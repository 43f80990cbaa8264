#include "install/record.h"

#include "support/layout.h"
#include "support/clock.h"
#include "support/json.h"

namespace tarncore {

Error write_install_record(const Layout& layout) {
    Json record;
    record["runtime"] = kSetupVersion;
    record["module"] = kModuleVersion;
    record["cli"] = kSetupVersion;
    record["version"] = kModuleVersion;
    record["installed_at"] = local_timestamp();

    const Path& path = layout.install_record;
    // A config folder that cannot be made fails the placement, with its reason.
    (void)ensure_dir(path.parent_path());
    const Placement placed = place_bytes(path, record.dump(true));
    if (placed.ok()) return Error();
    return with_placement(install_error("Could not write install.json"), path, placed);
}

std::string read_installed_version(const Layout& layout) {
    std::string text;
    if (!read_file(layout.install_record, text)) return {};
    Error error;
    Json record = Json::parse(text, error);
    if (error.failed()) return {};
    return record.get_string("version", record.get_string("runtime", ""));
}

}  // namespace tarncore
