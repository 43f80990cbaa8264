#include "install/registration.h"

#include <cstdlib>

#include "support/layout.h"

namespace tarncore::platform {
namespace {

// The development build keeps both beside the user PATH stand-in, under the
// user's config folder; nothing here is read by a desktop.
Path config_folder() {
    if (std::optional<NativeString> base = get_env("XDG_CONFIG_HOME"); base && !base->empty()) {
        return Path(*base) / "tarnwick";
    }
    if (std::optional<NativeString> home = get_env("HOME"); home && !home->empty()) {
        return Path(*home) / ".config" / "tarnwick";
    }
    return {};
}

Path entry_file() {
    const Path folder = config_folder();
    return folder.empty() ? Path() : folder / "uninstall-entry";
}

// Fields split by tabs, one record a line.
std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out(1);
    for (const char c : line) {
        if (c == '\t') {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return out;
}

}  // namespace

bool start_copy_remover(const Path& /*moved*/) {
    return false;
}

void wait_for_process(const char* /*process_handle*/) {}

bool write_uninstall_entry(const std::vector<EntryValue>& values) {
    const Path file = entry_file();
    if (file.empty() || !ensure_dir(file.parent_path())) return false;
    std::string text;
    for (const EntryValue& value : values) {
        text +=
            value.name +
            (value.is_number ? "\tdword\t" + std::to_string(value.number) : "\tsz\t" + value.text) +
            "\n";
    }
    return write_file(file, text);
}

std::vector<EntryValue> read_uninstall_entry() {
    std::vector<EntryValue> values;
    std::string text;
    if (!read_file(entry_file(), text)) return values;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::vector<std::string> cells = fields(text.substr(start, end - start));
        if (cells.size() != 3) continue;
        const bool number = cells[1] == "dword";
        values.push_back(EntryValue{
            cells[0], number ? NativeString() : cells[2],
            number ? static_cast<std::uint32_t>(std::strtoul(cells[2].c_str(), nullptr, 10)) : 0,
            number});
    }
    return values;
}

bool delete_uninstall_entry() {
    const Path file = entry_file();
    return file.empty() || delete_entry(file);
}

Path start_menu_shortcut_path() {
    const Path folder = config_folder();
    return folder.empty() ? Path() : folder / "start-menu" / "Tarnwick Console";
}

Path command_processor() {
    return Path("cmd.exe");
}

bool create_shortcut(const Path& link, const Shortcut& shortcut) {
    if (link.empty() || !ensure_dir(link.parent_path())) return false;
    return write_file(link, shortcut.target.native() + "\n" + shortcut.arguments + "\n" +
                                shortcut.icon.native() + "\n");
}

bool read_shortcut(const Path& link, Shortcut& shortcut) {
    std::string text;
    if (!read_file(link, text)) return false;
    const std::size_t first = text.find('\n');
    const std::size_t second = text.find('\n', first + 1);
    const std::size_t third = text.find('\n', second + 1);
    if (third == std::string::npos) return false;
    shortcut = Shortcut{Path(text.substr(0, first)), text.substr(first + 1, second - first - 1),
                        Path(text.substr(second + 1, third - second - 1))};
    return true;
}

}  // namespace tarncore::platform
