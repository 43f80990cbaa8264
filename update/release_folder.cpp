#include "update/release_folder.h"

#include "support/json.h"
#include "support/layout.h"
#include "update/release_signature.h"
#include "update/sha256.h"
#include "support/version.h"

namespace tarncore {
namespace {

Error release_error(std::uint32_t code, std::string message) {
    return Error(code, "release", "write_release_folder", std::move(message));
}

// The version names a folder on the host, so it may hold nothing that walks
// out of it or needs escaping in a URL.
bool is_publishable_version(const std::string& version) {
    if (!is_valid_version(version)) return false;
    for (char c : version) {
        const bool plain = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                           (c >= 'A' && c <= 'Z') || c == '.' || c == '-' || c == '+';
        if (!plain) return false;
    }
    return version.find("..") == std::string::npos;
}

Error write_whole(const Path& path, const std::string& bytes) {
    if (!ensure_dir(path.parent_path()) || !write_file(path, bytes)) {
        return release_error(kErrFile, "Could not write " + path_text(path));
    }
    return {};
}

}  // namespace

Error write_release_folder(const ReleaseInput& input, const Path& out, std::string& answer) {
    const std::string stable = input.stable.empty() ? input.version : input.stable;
    for (const std::string& version : {input.version, stable}) {
        if (!is_publishable_version(version)) {
            return release_error(kErrPolicy, "Not a valid version: \"" + version +
                                                 "\" (expected numbers such as 1.4.2, an "
                                                 "optional leading v and a -tag or +build)");
        }
    }
    // The client takes nothing but https:// from a remote host.
    std::string base = input.base_url;
    if (base.rfind("https://", 0) != 0 || base.size() <= 8) {
        return release_error(kErrPolicy, "The base URL must begin with https:// (got \"" + base +
                                             "\"); the update client refuses other downloads");
    }
    while (!base.empty() && base.back() == '/') base.pop_back();

    if (input.sign && !is_signature_date(input.expires)) {
        return release_error(kErrPolicy, "The expiry must be a date such as 2027-06-30 (got \"" +
                                             input.expires + "\")");
    }
    std::string runtime;
    if (!read_file(input.runtime, runtime)) {
        return release_error(kErrFile, "Could not read " + path_text(input.runtime));
    }
    if (runtime.empty()) {
        return release_error(kErrPolicy, "The runtime file is empty: " + path_text(input.runtime));
    }

    const std::string folder = "releases/" + input.version + "/";
    Json manifest = Json::Object{};
    manifest["latest"] = input.version;
    manifest["stable"] = stable;
    manifest["download_url"] = base + "/" + folder + "tarn.exe";
    manifest["sha256"] = sha256_hex(runtime.data(), runtime.size());
    Json& size = manifest["size"] = Json(static_cast<double>(runtime.size()));
    size.is_integer = true;
    size.integer = static_cast<std::int64_t>(runtime.size());
    manifest["release_notes_url"] = "";
    if (!input.notes.empty()) {
        std::string notes;
        if (!read_file(input.notes, notes)) {
            return release_error(kErrFile, "Could not read " + path_text(input.notes));
        }
        const std::string name = path_text(input.notes.filename());
        TARN_TRY(write_whole(out / native_from_text(folder + name), notes));
        manifest["release_notes_url"] = base + "/" + folder + name;
    }
    if (!input.setup.empty()) {
        std::string setup;
        if (!read_file(input.setup, setup)) {
            return release_error(kErrFile, "Could not read " + path_text(input.setup));
        }
        TARN_TRY(write_whole(out / native_from_text(folder + "Tarnwick-Setup.exe"), setup));
    }
    const Path published = out / native_from_text(folder + "tarn.exe");
    TARN_TRY(write_whole(published, runtime));
    if (input.sign) {
        std::string signature;
        TARN_TRY(input.sign(published, "tarnwick " + input.version + " expires " + input.expires,
                            signature));
        TARN_TRY(write_whole(out / native_from_text(folder + "tarn.exe.minisig"), signature));
        manifest["signature"] = signature;
    }
    answer = manifest.dump(true) + "\n";
    return write_whole(out / "api" / "tarnwick" / "version", answer);
}

}  // namespace tarncore
