#include "extras/extras.h"

#include <filesystem>
#include <ostream>
#include <mutex>
#include <system_error>

#include "extras/archive.h"
#include "extras/component_download.h"
#include "extras/publisher_checksum.h"
#include "support/child_process.h"
#include "support/download_meter.h"
#include "support/layout.h"
#include "support/logger.h"
#include "support/output.h"

namespace tarncore::discordvoice {
namespace {

// Serialises the extras operation; never contended in the program itself.
std::mutex& extras_mutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

Error extras_error(std::uint32_t code, std::string message) {
    return Error(code, "setup", "installExtras", std::move(message));
}

Error installExtras(const Layout& layout, bool refresh) {
    return install_extras(layout, refresh, kExtrasCatalogue);
}

Error install_extras(const Layout& layout, bool refresh, std::span<const ExtraComponent> rows) {
    std::lock_guard<std::mutex> hold(extras_mutex());
    const Path tools = extras_folder(layout, "tools");
    (void)ensure_dir(tools);
    console_out() << "\nExtra components\n";
    const int count = static_cast<int>(rows.size());
    for (int i = 0; i < count; ++i) {
        const ExtraComponent& row = rows[static_cast<std::size_t>(i)];
        Error error = install_component(layout, row, tools, refresh, i + 1, count);
        if (error.failed()) {
            console_err() << "        " << row.display_name << " failed: " << error.message << "\n"
                          << "        Runtime is installed. Re-run Tarnwick-Setup.exe or `tarn "
                             "update` to finish this component.\n";
            return error;
        }
    }
    return {};
}

Error install_component(const Layout& layout, const ExtraComponent& row, const Path& tools_folder,
                        bool refresh, int index, int count) {
    platform::DownloadMeter meter;
    const std::string name(row.display_name);
    console_out() << "  [" << index << "/" << count << "] " << name << "\n";
    std::string stem(row.primary_file);
    if (stem.size() >= 5 && stem.ends_with(".exe")) stem.resize(stem.size() - 4);
    const Path target = tools_folder / native_from_text(row.primary_file);
    // A cut or empty copy in the tools folder is what a stopped install
    // leaves: it is missing, whatever else the search would find.
    const bool present =
        usable_file(target) || (!path_exists(target) && !locate_tool(layout, stem).empty());
    if (present && !(refresh && row.refreshable)) {
        meter.finish("Already installed.");
        return {};
    }
    if (row.url.empty()) {
        meter.finish("No automatic download for this platform.");
        return extras_error(kErrProcess, name + " must be installed manually on this platform");
    }
    // Found before anything is fetched; the report keeps the words of the
    // step that would have failed, the log names the obstacle.
    if (const FileKind kind = file_kind(tools_folder); kind != FileKind::Folder) {
        meter.finish("Failed.");
        Error error =
            row.archive
                ? extras_error(kErrFile, "Could not install " + std::string(row.primary_file))
                : extras_error(kErrFile, "Could not write " + path_text(target));
        error.detail = path_text(tools_folder) + (kind == FileKind::Missing
                                                      ? " could not be created"
                                                      : " is in the way; it is not a folder");
        return error;
    }
    console_out() << "        " << row.url << "\n";
    Error error = row.archive
                      ? install_from_archive(layout, row, tools_folder, meter)
                      : download_file(std::string(row.url), target, meter, publisher_checksum(row));
    if (error.failed()) {
        if (!present) {
            meter.finish("Failed.");
            return error;
        }
        Logger::instance().warn(
            "setup", name + " refresh failed; keeping the existing copy: " + error.message);
        if (!error.detail.empty()) Logger::instance().detail("setup", logged_message(error));
        meter.finish("Refresh failed; existing copy kept.");
        return {};
    }
    meter.finish("Installed.");
    return {};
}

Path extras_folder(const Layout& layout, std::string_view name) {
    const Path& root = layout.root;
    return (root.empty() ? executable_path().parent_path() : root) / native_from_text(name);
}

Path locate_tool(const Layout& layout, const std::string& stem) {
    return find_executable(stem, layout.root);
}

bool usable_file(const Path& path) {
    return regular_file_size(path).value_or(0) > kUsableToolBytes;
}

}  // namespace tarncore::discordvoice
