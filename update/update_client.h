// The update service's answer (the release manifest) and the stateless client
// that asks for it and downloads the runtime it names, verified by length and
// SHA-256 before the file takes its name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/http.h"
#include "support/error.h"
#include "support/json.h"
#include "support/system.h"

namespace tarncore {

struct ReleaseManifest {
    std::string latest;
    std::string stable;
    std::string channel = "stable";
    std::string download_url;
    std::string release_notes_url;
    std::string docs_url;
    std::string sha256;
    std::int64_t size = 0;
    std::string signature;
    std::string minimum_runtime;
    Json document;

    /// Reads the answer's members with their fallbacks; addresses are resolved
    /// against the update service address.
    static ReleaseManifest from_json(const Json& json);
};

/// TARNWICK_UPDATE_API when it is set (even empty), else the built-in address.
std::string update_api_url();
/// Scheme, host and port of a URL; empty when it has no "://".
std::string url_origin(std::string_view url);
/// An absolute value unchanged; a relative one from the root of base's host.
std::string resolve_manifest_url(const std::string& value, std::string_view base);

/// The update service as the setup flow uses it; tests put a fake in its place.
class UpdateSource {
public:
    virtual ~UpdateSource() = default;
    virtual Error check_update(ReleaseManifest& manifest) const = 0;
    virtual Error download(const ReleaseManifest& manifest, const Path& destination,
                           ProgressCallback progress) const = 0;
    /// With release keys every download is signed; the signed version it
    /// carried becomes the floor once its install has committed.
    virtual bool requires_signature() const { return false; }
};

class UpdateClient final : public UpdateSource {
public:
    /// A client that trusts the release keys built into the program.
    UpdateClient();
    /// A client that trusts the given minisign public keys; with none, no
    /// signature is asked for. signed_version_file holds the version floor
    /// a signed download may not go below (none when empty).
    explicit UpdateClient(std::vector<std::string> release_keys, Path signed_version_file = {});

    /// Asks the update service; fills manifest from a 200 answer, which must
    /// name a valid latest version.
    Error check_update(ReleaseManifest& manifest) const override;
    /// Fetches download_url in one pass: each block is hashed (SHA-256 and,
    /// with release keys, the signature) and written to destination's
    /// placement as it arrives; only when size, digest and signature hold
    /// does the file take the destination's place.
    Error download(const ReleaseManifest& manifest, const Path& destination,
                   ProgressCallback progress) const override;
    bool requires_signature() const override { return !release_keys_.empty(); }

private:
    std::vector<std::string> release_keys_;
    Path signed_version_file_;
};

/// download() with its console lines and the download meter.
Error download_runtime(const UpdateSource& source, const ReleaseManifest& manifest,
                       const Path& destination);

}  // namespace tarncore
