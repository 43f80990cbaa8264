// The maintainer's side of the update service: the folder to upload to a
// static HTTPS host so that the update client finds and verifies a release.
#pragma once

#include <functional>
#include <string>

#include "support/error.h"
#include "support/system.h"

namespace tarncore {

struct ReleaseInput {
    Path runtime;          // the runtime executable to publish
    std::string version;   // latest; also names the release's folder
    std::string base_url;  // public https:// address of the upload folder's root
    std::string stable;    // empty: the same as version
    Path notes;            // optional release notes, published beside the runtime
    Path setup;            // optional setup program, published beside it as
                           // Tarnwick-Setup.exe, where the download error's
                           // curl hint looks for it
    /// Signs the published runtime: its path and the trusted comment in, the
    /// signature's text out (the release tool runs minisign). Empty: unsigned.
    std::function<Error(const Path& file, const std::string& comment, std::string& signature)> sign;
    std::string expires;  // YYYY-MM-DD, the end of the signature's validity
};

/// Writes <out>/api/tarnwick/version (the service's answer) and
/// <out>/releases/<version>/tarn.exe (and the notes and setup when given). Refuses an
/// invalid version, a base URL that is not https://, and an empty runtime.
/// With `sign`, the manifest's signature holds the text of the runtime's
/// minisign signature, trusted comment "tarnwick <version> expires
/// <expires>", also published beside it as tarn.exe.minisig.
/// `answer` receives the JSON text written.
Error write_release_folder(const ReleaseInput& input, const Path& out, std::string& answer);

}  // namespace tarncore
