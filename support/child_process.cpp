#include "support/child_process.h"

#include <filesystem>
#include <system_error>

#include "support/layout.h"

namespace tarncore {

std::string find_executable(const std::string& name) {
    if (name.empty()) return {};
    const Path path(native_from_text(name));
    if (path.has_root_path() || path.has_parent_path()) {
        return path_exists(path) ? name : std::string();
    }
    for (const char* extension : {".exe", static_cast<const char*>(nullptr)}) {
        std::string hit = search_program_path(name, extension);
        if (!hit.empty()) return hit;
    }
    const Path file(native_from_text(name.find('.') != std::string::npos ? name : name + ".exe"));
    std::error_code ec;
    const Path current = std::filesystem::current_path(ec);
    for (const Path& folder : {executable_path().parent_path(), install_root(), current}) {
        const Path candidate = folder / "tools" / file;
        if (path_exists(candidate)) return path_text(candidate);
    }
    return {};
}

std::string command_line(const std::string& program, const std::vector<std::string>& arguments) {
    std::string line = "\"" + program + "\"";
    for (const std::string& argument : arguments) line += " \"" + argument + "\"";
    return line;
}

std::vector<std::string> merged_environment(const std::vector<std::string>& parent,
                                            const EnvironmentMap& extra) {
    std::vector<std::string> entries;
    for (const std::string& entry : parent) {
        if (!extra.contains(entry.substr(0, entry.find('=')))) entries.push_back(entry);
    }
    for (const auto& [name, value] : extra) entries.push_back(name + "=" + value);
    return entries;
}

ChildProcess::~ChildProcess() {
    terminate(*this);
}

}  // namespace tarncore
