// Writes the folder a maintainer uploads to a static HTTPS host to publish a
// runtime for the update service (see docs/releasing.md).
//   tarnwick-release RUNTIME VERSION BASE_URL [OUT_DIR] [--stable V] [--notes FILE]
//                    [--setup FILE] [--docs SITE_DIR] [--sign SECRET_KEY [--expires YYYY-MM-DD]]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>
#include <string>
#include <vector>

#include "support/layout.h"
#include "support/system.h"
#include "update/release_folder.h"
#include "update/sha256.h"
#include "update/winget_manifests.h"
#include "winget_templates.h"

namespace {

constexpr char kUsage[] =
    "usage: tarnwick-release RUNTIME VERSION BASE_URL [OUT_DIR] [--stable VERSION] "
    "[--notes FILE] [--setup FILE] [--docs SITE_DIR] [--sign SECRET_KEY [--expires YYYY-MM-DD]]\n"
    "  Writes OUT_DIR (default: release) with releases/VERSION/tarn.exe and\n"
    "  api/tarnwick/version; upload its contents to BASE_URL (https://...).\n"
    "  --docs copies the built reference site (lua5.4 scripts/site/build.lua SITE_DIR) to docs/.\n"
    "  --sign runs minisign with the secret key (it asks for the key's password);\n"
    "  the signature expires after 90 days unless --expires says otherwise.\n";

// One word for the POSIX shell: the tool runs on the maintainer's Linux machine.
std::string quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string days_from_now(int days) {
    const std::chrono::year_month_day date{
        std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now()) +
        std::chrono::days(days)};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

// minisign -S, with the terminal left to it for the password prompt.
tarncore::Error run_minisign(const std::string& secret_key, const tarncore::Path& file,
                             const std::string& comment, std::string& signature) {
    const std::string path = tarncore::path_text(file);
    const std::string command = "minisign -S -s " + quoted(secret_key) + " -m " + quoted(path) +
                                " -x " + quoted(path + ".minisig") + " -t " + quoted(comment);
    if (std::system(command.c_str()) != 0 ||
        !tarncore::read_file(tarncore::native_from_text(path + ".minisig"), signature)) {
        return tarncore::Error(tarncore::kErrProcess, "release", "sign",
                               "minisign could not sign " + path);
    }
    (void)tarncore::delete_file(tarncore::native_from_text(path + ".minisig"));
    return {};
}

// The host that answers the update service serves the documentation address too: the built
// site replaces the folder's docs/ so that no page of an older build stays behind.
tarncore::Error copy_docs(const tarncore::Path& site, const tarncore::Path& out) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(site / "index.html", ec)) {
        return tarncore::Error(tarncore::kErrFile, "release", "docs",
                               tarncore::path_text(site) + " is no built site (no index.html)");
    }
    const tarncore::Path target = out / "docs";
    std::filesystem::remove_all(target, ec);
    if (!ec) std::filesystem::copy(site, target, std::filesystem::copy_options::recursive, ec);
    if (ec) {
        return tarncore::Error(tarncore::kErrFile, "release", "docs",
                               "could not copy " + tarncore::path_text(site) + " to " +
                                   tarncore::path_text(target) + ": " + ec.message());
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> plain;
    tarncore::ReleaseInput input;
    std::string secret_key;
    tarncore::Path docs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--stable" || arg == "--notes" || arg == "--setup" || arg == "--sign" ||
             arg == "--expires" || arg == "--docs") &&
            i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--stable") input.stable = value;
            if (arg == "--notes") input.notes = tarncore::native_from_text(value);
            if (arg == "--setup") input.setup = tarncore::native_from_text(value);
            if (arg == "--sign") secret_key = value;
            if (arg == "--expires") input.expires = value;
            if (arg == "--docs") docs = tarncore::native_from_text(value);
        } else if (arg.rfind("--", 0) == 0) {
            std::cerr << kUsage;
            return 2;
        } else {
            plain.push_back(arg);
        }
    }
    if (plain.size() < 3 || plain.size() > 4) {
        std::cerr << kUsage;
        return 2;
    }
    input.runtime = tarncore::native_from_text(plain[0]);
    input.version = plain[1];
    input.base_url = plain[2];
    if (!secret_key.empty()) {
        if (input.expires.empty()) input.expires = days_from_now(90);
        input.sign = [&secret_key](const tarncore::Path& file, const std::string& comment,
                                   std::string& signature) {
            return run_minisign(secret_key, file, comment, signature);
        };
    }
    const tarncore::Path out = tarncore::native_from_text(plain.size() == 4 ? plain[3] : "release");

    std::string answer;
    tarncore::Error error = tarncore::write_release_folder(input, out, answer);
    if (!error.failed() && !docs.empty()) error = copy_docs(docs, out);
    if (error.failed()) {
        std::cerr << "tarnwick-release: " << error.message << "\n";
        return 1;
    }
    std::string base = input.base_url;
    while (!base.empty() && base.back() == '/') base.pop_back();
    std::string winget;
    if (!input.setup.empty()) {
        // The manifests describe the setup as published beside the runtime.
        std::string setup;
        (void)tarncore::read_file(input.setup, setup);
        const tarncore::WingetFields fields{
            input.version, tarncore::kSetupVersion,
            base + "/releases/" + input.version + "/Tarnwick-Setup.exe",
            tarncore::sha256_hex(setup.data(), setup.size())};
        tarncore::Path folder;
        error = tarncore::write_winget_manifests(kWingetTemplates, fields, out, folder);
        if (error.failed()) {
            std::cerr << "tarnwick-release: " << error.message << "\n";
            return 1;
        }
        winget = "  " + tarncore::path_text(folder) + " (winget manifests)\n";
    }
    std::cout << "Wrote " << tarncore::path_text(out) << ":\n"
              << "  releases/" << input.version << "/tarn.exe\n"
              << (input.sign ? "  releases/" + input.version + "/tarn.exe.minisig\n" : "") << winget
              << (docs.empty() ? "" : "  docs/ (the reference site)\n")
              << "  api/tarnwick/version:\n"
              << answer << "Upload the folder's contents to " << base << "/ so that " << base
              << "/api/tarnwick/version answers with the file above.\n";
    return 0;
}
