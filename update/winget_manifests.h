// The winget manifests of a published setup: the templates of
// packaging/winget with the release's fields filled in.
#pragma once

#include <string>
#include <vector>

#include "support/error.h"
#include "support/system.h"

namespace tarncore {

struct WingetTemplate {
    std::string file_name;
    std::string text;
};

/// {{VERSION}}, {{DISPLAY_VERSION}} (what the setup writes into Apps &
/// Features), {{INSTALLER_URL}}, {{INSTALLER_SHA256}}.
struct WingetFields {
    std::string version;
    std::string display_version;
    std::string installer_url;
    std::string installer_sha256;
};

/// The template with every field replaced; a field it does not know fails.
Error fill_winget_template(const std::string& text, const WingetFields& fields,
                           std::string& filled);
/// Writes the filled templates to <out>/winget/manifests/t/Tarnwick/Tarnwick/<version>/,
/// the folder layout of the winget package repository; `written` gets its path.
Error write_winget_manifests(const std::vector<WingetTemplate>& templates,
                             const WingetFields& fields, const Path& out, Path& written);

}  // namespace tarncore
