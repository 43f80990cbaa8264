// What a release build asks of a runtime download: a minisign signature by a
// trusted key whose trusted comment names the release and a date it is good
// until, over the very bytes received, for a version no older than the
// newest signed one installed before.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "net/http.h"
#include "support/error.h"
#include "support/layout.h"
#include "support/system.h"
#include "update/minisign.h"

namespace tarncore {

class ReleaseSignatureCheck final : public BodySink {
public:
    /// Everything that can be decided before the download: the signature
    /// text, the key, the trusted comment "tarnwick <version> expires
    /// <YYYY-MM-DD>" against `version` and `today` (same form), and `version`
    /// against `floor` (empty: none). Failures are code 9, module and
    /// function "update".
    Error begin(const std::string& signature_text, const std::string& version,
                std::span<const std::string> keys, const std::string& floor,
                const std::string& today);
    /// The download's bytes, in order, as they arrive.
    void take(const char* data, std::size_t length) override;
    void restart() override;
    Error finish();

private:
    MinisignVerifier verifier_;
    std::optional<MinisignKey> key_;
    std::optional<MinisignSignature> signature_;
};

/// A calendar date written YYYY-MM-DD.
bool is_signature_date(const std::string& text);
/// The keys built into this program (TARN_RELEASE_KEYS).
std::vector<std::string> built_in_release_keys();
/// Today's date in UTC as YYYY-MM-DD.
std::string utc_date_today();
/// config\signed-version.txt: the newest version installed from a signed
/// download; empty without an installation root.
Path signed_version_path(const Layout& layout);
/// The version in that file, or empty.
std::string read_signed_version(const Path& path);
/// Raises the file to `version` unless it already names a newer one.
bool note_signed_version(const Path& path, const std::string& version);

}  // namespace tarncore
