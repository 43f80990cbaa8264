#include "extras/publisher_checksum.h"

#include "net/http_client.h"
#include "support/ascii.h"
#include "support/layout.h"

namespace tarncore::discordvoice {
namespace {

// Checksum files are a few lines; the largest lists every build of a release.
constexpr std::int64_t kMaxChecksumBytes = 1048576;

bool is_sha256_hex(std::string_view text) {
    if (text.size() != 64) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::string checksum_for(std::string_view listing, std::string_view file_name) {
    while (!listing.empty()) {
        const std::size_t end = listing.find('\n');
        const std::string_view line = trimmed(listing.substr(0, end));
        listing = end == std::string_view::npos ? std::string_view() : listing.substr(end + 1);
        const std::size_t gap = line.find_first_of(" \t");
        const std::string_view digest = line.substr(0, gap);
        std::string_view name = gap == std::string_view::npos ? "" : trimmed(line.substr(gap));
        if (!name.empty() && name.front() == '*') name.remove_prefix(1);
        if (is_sha256_hex(digest) && (name.empty() || name == file_name)) {
            return ascii_lowered(std::string(digest));
        }
    }
    return {};
}

BodyCheck publisher_checksum(const ExtraComponent& row) {
    if (row.checksum_url.empty()) return {};
    const std::string url(row.url);
    const std::string file = url.substr(url.rfind('/') + 1);
    return [checksum_url = std::string(row.checksum_url), file](const std::string& sha256) {
        HttpRequest request;
        request.url = checksum_url;
        request.headers = {{"User-Agent", std::string("Tarnwick-Setup/") + kModuleVersion},
                           {"Accept", "*/*"}};
        request.max_body_bytes = kMaxChecksumBytes;
        Error error;
        const HttpResponse response = HttpClient::execute(request, error);
        const std::string wanted =
            error.ok() && response.status == 200 ? checksum_for(response.body, file) : "";
        if (wanted.empty())
            return extras_error(kErrHttp, "Could not fetch the checksum of " + file);
        if (sha256 != wanted) {
            return extras_error(kErrHttp,
                                "Checksum of " + file + " does not match; download rejected");
        }
        return Error();
    };
}

}  // namespace tarncore::discordvoice
