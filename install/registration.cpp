#include "install/registration.h"

#include <chrono>
#include <ctime>
#include <string_view>
#include <system_error>
#include <thread>

#include "install/install_steps.h"
#include "support/layout.h"
#include "support/product.h"

namespace tarncore {
namespace {

EntryValue text_value(const char* name, const NativeString& text) {
    return EntryValue{name, text, 0, false};
}

EntryValue number_value(const char* name, std::uint32_t number) {
    return EntryValue{name, {}, number, true};
}

// What Apps & Features shows as the size; links are not followed.
std::uint32_t installation_kib(const Path& root) {
    std::uintmax_t bytes = 0;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(root, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code size_ec;
        if (it->is_regular_file(size_ec)) {
            const std::uintmax_t size = it->file_size(size_ec);
            if (!size_ec) bytes += size;
        }
    }
    return static_cast<std::uint32_t>((bytes + 1023) / 1024);
}

std::string install_date() {
    std::tm local{};
    if (!local_time(std::time(nullptr), local)) return {};
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &local);
    return text;
}

// The uninstall's image in the temporary folder, and the helper beside it.
constexpr char kMovedCopyName[] = "Tarnwick-Setup-uninstall.exe";

bool same_file(const Path& a, const Path& b) {
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

}  // namespace

Path setup_copy_path(const Layout& layout) {
    return layout.root / "Tarnwick-Setup.exe";
}

std::vector<EntryValue> uninstall_entry_values(const Layout& layout) {
    const Path copy = setup_copy_path(layout);
    const NativeString uninstall =
        native_from_text("\"") + copy.native() + native_from_text("\" --uninstall");
    return {
        text_value("DisplayName", native_from_text("Tarnwick")),
        text_value("DisplayVersion", native_from_text(kSetupVersion)),
        text_value("Publisher", native_from_text("Tarnwick")),
        text_value("InstallLocation", layout.root.native()),
        text_value("DisplayIcon", copy.native()),
        text_value("UninstallString", uninstall),
        text_value("QuietUninstallString", uninstall + native_from_text(" --silent")),
        text_value("URLInfoAbout", native_from_text(std::string("https://") + kProductHost + "/")),
        number_value("EstimatedSize", installation_kib(layout.root)),
        text_value("InstallDate", native_from_text(install_date())),
        number_value("NoModify", 1),
        number_value("NoRepair", 1),
    };
}

NativeString ready_console_arguments(const Layout& layout) {
    // The bin folder goes in unquoted: set takes the rest up to && as the value.
    return native_from_text("/k \"set PATH=") + layout.bin.native() +
           native_from_text(";%PATH% && echo Tarnwick is ready. Try: tarn help && echo.\"");
}

Error register_installation(const Layout& layout) {
    const Path self = module_file_name();
    const Path copy = setup_copy_path(layout);
    // Run from the copy itself (a repair from Settings), it is already in place.
    if (!same_file(self, copy)) TARN_TRY(place_file(self, copy));
    // The size is taken last, with the copy counted.
    if (!platform::write_uninstall_entry(uninstall_entry_values(layout))) {
        return install_error("Could not write the Apps & Features entry");
    }
    const platform::Shortcut shortcut{platform::command_processor(),
                                      ready_console_arguments(layout), copy};
    if (!platform::create_shortcut(platform::start_menu_shortcut_path(), shortcut)) {
        return install_error("Could not create the Start menu shortcut");
    }
    return {};
}

Path move_setup_copy_aside(const Layout& layout) {
    const Path copy = setup_copy_path(layout);
    if (!layout.available() || !same_file(module_file_name(), copy)) return {};
    std::error_code ec;
    const Path aside = std::filesystem::temp_directory_path(ec) / kMovedCopyName;
    if (ec || !move_file(copy, aside, kMoveReplaceExisting)) return {};
    return aside;
}

void settle_setup_copy(const Layout& layout, const Path& moved, bool removed) {
    if (moved.empty()) return;
    if (!removed) {
        (void)move_file(moved, setup_copy_path(layout), kMoveReplaceExisting);
        return;
    }
    // Windows keeps the running image: a helper deletes it after this process,
    // and failing that a restart (if the user may schedule one).
    if (!delete_file(moved) && !platform::start_copy_remover(moved)) {
        (void)move_file(moved, Path(), kMoveDelayUntilReboot);
    }
}

bool is_copy_remover(int argc, const char* const* argv) {
    return argc == 3 && std::string_view(argv[1]) == kCopyRemoverSwitch &&
           module_file_name().filename() == Path(native_from_text(kCopyRemoverName));
}

int run_copy_remover(const char* process_handle) {
    platform::wait_for_process(process_handle);
    const Path moved = module_file_name().parent_path() / kMovedCopyName;
    // The ended process's image may be let go a moment after its handle signals.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (delete_file(moved) || file_kind(moved) == FileKind::Missing) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 1;
}

void unregister_installation() {
    (void)platform::delete_uninstall_entry();
    if (const Path link = platform::start_menu_shortcut_path(); !link.empty()) {
        (void)delete_entry(link);
    }
}

}  // namespace tarncore
