#include "update/release_signature.h"

#include <chrono>
#include <cstdio>

#include "support/layout.h"
#include "support/release_keys.h"
#include "support/version.h"

namespace tarncore {
namespace {

Error refused(const std::string& reason) {
    return Error(kErrPolicy, "update", "update", "Release signature check failed: " + reason);
}

}  // namespace

bool is_signature_date(const std::string& text) {
    unsigned year = 0, month = 0, day = 0;
    char end = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
        std::sscanf(text.c_str(), "%4u-%2u-%2u%c", &year, &month, &day, &end) != 3) {
        return false;
    }
    for (std::size_t i : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    const std::chrono::year_month_day date{std::chrono::year(static_cast<int>(year)),
                                           std::chrono::month(month), std::chrono::day(day)};
    return date.ok();
}

Error ReleaseSignatureCheck::begin(const std::string& signature_text, const std::string& version,
                                   std::span<const std::string> keys, const std::string& floor,
                                   const std::string& today) {
    if (signature_text.empty()) return refused("the release manifest has no signature");
    const std::optional<MinisignSignature> signature = parse_minisign_signature(signature_text);
    if (!signature) return refused("the release manifest's signature is not a minisign signature");
    std::optional<MinisignKey> key;
    for (const std::string& text : keys) {
        const std::optional<MinisignKey> candidate = parse_minisign_key(text);
        if (candidate && candidate->id == signature->key_id) key = candidate;
    }
    if (!key) {
        return refused("the signature is by key " + key_id_text(signature->key_id) +
                       ", which this setup does not trust");
    }
    if (!verifier_.start(*key, *signature)) {
        return refused("the trusted comment does not carry the key's signature");
    }
    key_ = key;
    signature_ = signature;
    const std::string& comment = signature->trusted_comment;
    const std::string expected = "tarnwick " + version + " expires ";
    const std::string expires =
        comment.starts_with(expected) ? comment.substr(expected.size()) : std::string();
    if (!is_signature_date(expires)) {
        return refused("the trusted comment \"" + comment + "\" is not \"" + expected +
                       "YYYY-MM-DD\"");
    }
    // Dates of one fixed form order like their text.
    if (expires < today) return refused("the signature of " + version + " expired on " + expires);
    if (!floor.empty() && compare_versions(parse_version(version), parse_version(floor)) < 0) {
        return refused(version + " is older than " + floor +
                       ", the newest signed release installed here");
    }
    return {};
}

void ReleaseSignatureCheck::take(const char* data, std::size_t length) {
    verifier_.update(data, length);
}

void ReleaseSignatureCheck::restart() {
    if (key_ && signature_) (void)verifier_.start(*key_, *signature_);
}

Error ReleaseSignatureCheck::finish() {
    if (!verifier_.finish()) return refused("the download does not match its signature");
    return {};
}

std::vector<std::string> built_in_release_keys() {
    std::vector<std::string> keys;
    for (std::string_view key : release_keys()) keys.emplace_back(key);
    return keys;
}

std::string utc_date_today() {
    const std::chrono::year_month_day date{
        std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now())};
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
    return text;
}

Path signed_version_path(const Layout& layout) {
    if (!layout.available()) return {};
    return layout.config / "signed-version.txt";
}

std::string read_signed_version(const Path& path) {
    std::string text;
    if (path.empty() || !read_file(path, text)) return {};
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return is_valid_version(text) ? text : std::string();
}

bool note_signed_version(const Path& path, const std::string& version) {
    const std::string known = read_signed_version(path);
    if (path.empty()) return false;
    if (!known.empty() && compare_versions(parse_version(version), parse_version(known)) <= 0) {
        return true;
    }
    return ensure_dir(path.parent_path()) && write_file(path, version + "\n");
}

}  // namespace tarncore
