#include "support/child_process.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "support/layout.h"

namespace tarncore {

Path find_executable(const std::string& name, const Path& installation_root) {
    if (name.empty()) return {};
    const Path path(native_from_text(name));
    if (path.has_root_path() || path.has_parent_path()) {
        return path_exists(path) ? path : Path();
    }
    for (const char* extension : {".exe", static_cast<const char*>(nullptr)}) {
        Path hit = search_program_path(name, extension);
        if (!hit.empty()) return hit;
    }
    const Path file(native_from_text(name.find('.') != std::string::npos ? name : name + ".exe"));
    std::error_code ec;
    const Path current = std::filesystem::current_path(ec);
    for (const Path& folder : {executable_path().parent_path(), installation_root, current}) {
        const Path candidate = folder / "tools" / file;
        if (regular_file_size(candidate).value_or(0) > kUsableToolBytes) return candidate;
    }
    return {};
}

NativeString command_line(const Path& program, const std::vector<NativeString>& arguments) {
    const NativeString quote(1, '"');
    NativeString line = quote + program.native() + quote;
    for (const NativeString& argument : arguments)
        line += NativeString(1, ' ') + quote + argument + quote;
    return line;
}

std::vector<NativeString> merged_environment(const std::vector<NativeString>& parent,
                                             const EnvironmentMap& extra) {
    std::vector<NativeString> names, entries;
    for (const auto& item : extra) names.push_back(native_from_text(item.first));
    for (const NativeString& entry : parent) {
        const NativeString name = entry.substr(0, entry.find('='));
        if (std::find(names.begin(), names.end(), name) == names.end()) entries.push_back(entry);
    }
    for (const auto& [name, value] : extra) entries.push_back(native_from_text(name + "=" + value));
    return entries;
}

ChildProcess::~ChildProcess() {
    terminate(*this);
}

}  // namespace tarncore
