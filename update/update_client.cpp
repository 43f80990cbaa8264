#include "update/update_client.h"

#include <ostream>

#include "net/file_sink.h"
#include "net/http_client.h"
#include "net/url.h"
#include "support/ascii.h"
#include "support/clock.h"
#include "support/download_meter.h"
#include "support/layout.h"
#include "support/logger.h"
#include "support/output.h"
#include "support/product.h"
#include "support/version.h"
#include "update/release_signature.h"
#include "update/sha256.h"

namespace tarncore {
namespace {

constexpr char kModule[] = "update";
constexpr char kCheckUpdate[] = "check-update";
constexpr char kUpdate[] = "update";
// The service answers with a small object; anything near this is not it.
constexpr std::int64_t kMaxAnswerBytes = 1048576;
constexpr std::uint32_t kDownloadTimeoutMs = 180000;

Error update_error(std::uint32_t code, const char* function, std::string message) {
    return Error(code, kModule, function, std::move(message));
}

// The client's failure keeps its code and message under the update's labels.
HttpResponse execute_as(const HttpRequest& request, const char* function, Error& error) {
    const std::int64_t start = steady_ms();
    HttpResponse response = HttpClient::execute(request, error);
    log_request(request.method, request.url, response.status, steady_ms() - start, error.message);
    if (error.failed()) {
        error.module = kModule;
        error.function = function;
    }
    return response;
}

std::string size_mismatch(std::int64_t expected, std::int64_t got, const std::string& url) {
    std::string message = "Download size mismatch (expected " + std::to_string(expected) +
                          ", got " + std::to_string(got) + ")";
    if (got == 0) {
        // An empty body is what a broken mirror gives; the setup program
        // itself sits in the same folder as the runtime.
        const std::size_t slash = url.rfind('/');
        message +=
            ". Download the installer with curl instead:\n"
            "  curl.exe -L -o %TEMP%\\Tarnwick-Setup.exe " +
            (slash == std::string::npos ? std::string() : url.substr(0, slash + 1)) +
            "Tarnwick-Setup.exe";
    }
    return message;
}

}  // namespace

std::string update_api_url() {
    if (std::optional<NativeString> value = get_env("TARNWICK_UPDATE_API")) {
        return path_text(Path(*value));
    }
    return kUpdateServiceUrl;
}

std::string url_origin(std::string_view url) {
    const std::size_t scheme_end = url.find("://");
    if (scheme_end == std::string_view::npos) return {};
    const std::size_t slash = url.find('/', scheme_end + 3);
    return std::string(slash == std::string_view::npos ? url : url.substr(0, slash));
}

std::string resolve_manifest_url(const std::string& value, std::string_view base) {
    if (value.empty() || value.find("://") != std::string::npos) return value;
    const std::string origin = url_origin(base);
    if (origin.empty()) return value;
    return value.front() == '/' ? origin + value : origin + "/" + value;
}

ReleaseManifest ReleaseManifest::from_json(const Json& json) {
    const std::string base = update_api_url();
    auto resolved = [&](const char* key, const char* fallback_key) {
        return resolve_manifest_url(json.get_string(key, json.get_string(fallback_key, "")), base);
    };
    ReleaseManifest m;
    m.latest = json.get_string("latest", json.get_string("version", ""));
    m.stable = json.get_string("stable", m.latest);
    m.channel = json.get_string("channel", "stable");
    m.download_url = resolved("download_url", "download");
    m.release_notes_url = resolved("release_notes_url", "release_notes");
    const std::string docs = json.get_string("docs", "");
    m.docs_url = json.find("docs").kind == JsonKind::String ? resolve_manifest_url(docs, base)
                                                            : std::string(kDocsUrl);
    m.sha256 = json.get_string("sha256", "");
    m.size = json.get_int("size", 0);
    m.signature = json.get_string("signature", "");
    m.minimum_runtime = json.get_string("minimum_runtime", json.get_string("min_runtime", ""));
    m.document = json;
    return m;
}

UpdateClient::UpdateClient() : release_keys_(built_in_release_keys()) {}

UpdateClient::UpdateClient(std::vector<std::string> release_keys, Path signed_version_file)
    : release_keys_(std::move(release_keys)),
      signed_version_file_(std::move(signed_version_file)) {}

Error UpdateClient::check_update(ReleaseManifest& manifest) const {
    HttpRequest request;
    request.url = update_api_url();
    request.headers["Accept"] = "application/json";
    request.max_body_bytes = kMaxAnswerBytes;
    // A small document: a trickle must not stretch the three attempts.
    request.whole_answer_deadline = true;
    Error error;
    HttpResponse response = execute_as(request, kCheckUpdate, error);
    if (error.failed()) return error;
    if (response.status != 200) {
        return update_error(kErrHttp, kCheckUpdate,
                            "Update API returned HTTP " + std::to_string(response.status));
    }
    Json answer = Json::parse(response.body, error);
    if (error.failed()) {
        error.module = kModule;
        return error;
    }
    manifest = ReleaseManifest::from_json(answer);
    if (manifest.latest.empty() || !is_valid_version(manifest.latest)) {
        return update_error(kErrPolicy, kCheckUpdate,
                            "Update API did not include a valid latest version");
    }
    return {};
}

Error UpdateClient::download(const ReleaseManifest& manifest, const Path& destination,
                             ProgressCallback progress) const {
    const std::string& url = manifest.download_url;
    if (url.empty()) {
        return update_error(kErrPolicy, kUpdate, "Release manifest has no download_url");
    }
    // Local mirrors are exempt from the HTTPS and digest rules, except where
    // every download must be signed.
    const bool signed_only = !release_keys_.empty();
    const bool local = !signed_only && is_local_url(url);
    if (url.rfind("https://", 0) != 0 && !local) {
        return update_error(kErrPolicy, kUpdate, "Downloads must use HTTPS");
    }
    if (manifest.sha256.empty() && !local) {
        return update_error(kErrPolicy, kUpdate, "Release manifest is missing SHA-256");
    }
    ReleaseSignatureCheck signature;
    if (signed_only) {
        TARN_TRY(signature.begin(manifest.signature, manifest.latest, release_keys_,
                                 read_signed_version(signed_version_file_), utc_date_today()));
    }

    // One pass: each block is hashed, checked against the signature and
    // written as it arrives; the file takes its name only after every check.
    Sha256Sink digest;
    std::vector<BodySink*> sinks = {&digest};
    if (signed_only) sinks.push_back(&signature);
    FileSink file(destination, std::move(sinks));
    HttpRequest request;
    request.url = url;
    request.timeout_ms = kDownloadTimeoutMs;
    request.progress = std::move(progress);
    request.sink = &file;
    Error error;
    HttpResponse response = execute_as(request, kUpdate, error);
    if (error.failed()) return error;
    if (response.status != 200) {
        return update_error(kErrHttp, kUpdate,
                            "Download failed with HTTP " + std::to_string(response.status));
    }
    const std::int64_t length = body_length(response);
    if (manifest.size >= 1 && length != manifest.size) {
        return update_error(kErrHttp, kUpdate, size_mismatch(manifest.size, length, url));
    }
    if (!manifest.sha256.empty() && digest.hex() != ascii_lowered(manifest.sha256)) {
        return update_error(kErrHttp, kUpdate, "SHA-256 mismatch; download rejected");
    }
    if (signed_only) TARN_TRY(signature.finish());
    const Placement placed = file.commit();
    if (!placed.ok()) {
        return with_placement(
            update_error(kErrFile, kUpdate, "Could not write " + path_text(destination)),
            destination, placed);
    }
    return {};
}

Error download_runtime(const UpdateSource& source, const ReleaseManifest& manifest,
                       const Path& destination) {
    console_out() << "\nDownloading Tarnwick " << console_safe(manifest.latest) << "...\n";
    platform::DownloadMeter meter;
    Error error = source.download(
        manifest, destination,
        [&meter](std::int64_t received, std::int64_t total) { meter.update(received, total); });
    meter.finish(error.failed() ? "Download failed." : "Downloaded.");
    // A silent update reports nothing more before it falls back: the log
    // keeps why (a full disk, with the path).
    if (error.failed()) {
        Logger::instance().detail("update", "Download failed: " + logged_message(error));
        error.detail.clear();
    }
    return error;
}

}  // namespace tarncore
