#include "extras/archive.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "extras/component_download.h"
#include "extras/publisher_checksum.h"
#include "extras/zip_directory.h"
#include "support/child_process.h"
#include "support/layout.h"

namespace tarncore::discordvoice {
namespace {

// Best effort: a folder that cannot be cleared shows up as a failed unpack or search.
void remove_unpack_folder(const Path& unpack) {
    std::string failure;
    (void)remove_tree(unpack, failure);
}

}  // namespace

Error extract_archive(const Path& archive, const Path& folder, const Path& installation_root,
                      const ExtractLimits& limits) {
    if (!ensure_dir(folder)) return extras_error(kErrFile, "Could not create " + path_text(folder));
    ChildProcess tar;
    Error error;
    // The paths go as the file system spells them: a user name the code page
    // cannot hold would reach tar as "?".
    Path program = find_executable("tar", installation_root);
    if (program.empty()) program = Path(native_from_text("tar"));
    ChildProcess::start(
        tar, error, program,
        {native_from_text("-xf"), archive.native(), native_from_text("-C"), folder.native()}, {},
        true);
    if (error.failed()) return error;
    const auto started = std::chrono::steady_clock::now();
    while (ChildProcess::running(tar)) {
        if (std::chrono::steady_clock::now() - started >
            std::chrono::milliseconds(limits.limit_ms)) {
            ChildProcess::terminate(tar);
            return extras_error(kErrProcess, "Timed out extracting archive");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(limits.poll_ms));
    }
    return {};
}

namespace {

// Depth first, listed through the platform so a tree below a long profile
// path is searched past MAX_PATH. Links are neither matched nor entered, and
// nothing is taken whose final path leaves root: under Wine a Unix link looks
// like a plain file or folder.
Path find_below(const Path& root, const Path& folder, const NativeString& wanted, bool& stop) {
    std::vector<Path> entries;
    if (!list_folder(folder, entries)) {
        stop = true;
        return {};
    }
    std::sort(entries.begin(), entries.end());
    for (const Path& entry : entries) {
        const FileKind kind = file_kind(entry);
        if (kind == FileKind::Link || !resolves_inside(root, entry)) continue;
        if (entry.filename().native() == wanted) return entry;
        if (kind != FileKind::Folder) continue;
        Path found = find_below(root, entry, wanted, stop);
        if (!found.empty() || stop) return found;
    }
    return {};
}

}  // namespace

Path find_in_tree(const Path& root, const std::string& file_name) {
    if (file_kind(root) != FileKind::Folder) return {};
    bool stop = false;
    return find_below(root, root, native_from_text(file_name), stop);
}

namespace {

// The unpack folder's part of the install; the caller clears the folder
// whatever the outcome.
Error unpack_and_copy(const Layout& layout, const ExtraComponent& row, const Path& archive,
                      const Path& unpack, const Path& tools_folder,
                      platform::DownloadMeter& meter) {
    TARN_TRY(check_zip_archive(archive));
    meter.show_status("Extracting archive...");
    TARN_TRY(extract_archive(archive, unpack, layout.root));
    const std::string primary(row.primary_file);
    const Path found = find_in_tree(unpack, primary);
    if (found.empty())
        return extras_error(kErrFile, primary + " was not inside the downloaded archive");
    (void)ensure_dir(tools_folder);
    meter.show_status("Installing files...");
    const Path target = tools_folder / native_from_text(primary);
    (void)ensure_dir(target.parent_path());
    const Placement placed = place_copy(found, target);
    if (!placed.ok()) {
        return with_placement(extras_error(kErrFile, "Could not install " + primary), target,
                              placed);
    }
    if (!row.secondary_file.empty()) {
        const Path second = find_in_tree(unpack, std::string(row.secondary_file));
        if (!second.empty())
            (void)copy_with_parents(second, tools_folder / native_from_text(row.secondary_file));
    }
    return {};
}

}  // namespace

Error install_from_archive(const Layout& layout, const ExtraComponent& row,
                           const Path& tools_folder, platform::DownloadMeter& meter) {
    const Path work = extras_folder(layout, "cache") / "extras" / native_from_text(row.id);
    (void)ensure_dir(work);
    const Path archive = work / native_from_text(std::string(row.id) + ".zip");
    // A left-over of an interrupted run goes whatever happens next.
    const Path unpack = work / "extract";
    remove_unpack_folder(unpack);
    TARN_TRY(download_file(std::string(row.url), archive, meter, publisher_checksum(row)));
    const Error error = unpack_and_copy(layout, row, archive, unpack, tools_folder, meter);
    remove_unpack_folder(unpack);
    return error;
}

}  // namespace tarncore::discordvoice
