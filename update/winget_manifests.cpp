#include "update/winget_manifests.h"

#include <utility>

#include "support/layout.h"

namespace tarncore {
namespace {

Error winget_error(std::uint32_t code, std::string message) {
    return Error(code, "release", "write_winget_manifests", std::move(message));
}

}  // namespace

Error fill_winget_template(const std::string& text, const WingetFields& fields,
                           std::string& filled) {
    const std::pair<const char*, const std::string*> known[] = {
        {"VERSION", &fields.version},
        {"DISPLAY_VERSION", &fields.display_version},
        {"INSTALLER_URL", &fields.installer_url},
        {"INSTALLER_SHA256", &fields.installer_sha256},
    };
    filled.clear();
    std::size_t at = 0;
    for (std::size_t open; (open = text.find("{{", at)) != std::string::npos;) {
        const std::size_t close = text.find("}}", open);
        if (close == std::string::npos) break;
        const std::string name = text.substr(open + 2, close - open - 2);
        const std::string* value = nullptr;
        for (const auto& [field, text_of] : known) {
            if (name == field) value = text_of;
        }
        // A comment may name the fields; only a field in a value must be known.
        const std::size_t line = text.rfind('\n', open);
        const bool comment = text.compare(line == std::string::npos ? 0 : line + 1, 1, "#") == 0;
        if (value == nullptr && !comment) {
            return winget_error(kErrPolicy, "Unknown field {{" + name + "}} in a winget template");
        }
        filled += text.substr(at, open - at);
        filled += value == nullptr || comment ? text.substr(open, close + 2 - open) : *value;
        at = close + 2;
    }
    filled += text.substr(at);
    return {};
}

Error write_winget_manifests(const std::vector<WingetTemplate>& templates,
                             const WingetFields& fields, const Path& out, Path& written) {
    written = out / "winget" / "manifests" / "t" / "Tarnwick" / "Tarnwick" /
              native_from_text(fields.version);
    if (!ensure_dir(written)) {
        return winget_error(kErrFile, "Could not create " + path_text(written));
    }
    for (const WingetTemplate& manifest : templates) {
        std::string filled;
        TARN_TRY(fill_winget_template(manifest.text, fields, filled));
        const Path path = written / native_from_text(manifest.file_name);
        if (!write_file(path, filled)) {
            return winget_error(kErrFile, "Could not write " + path_text(path));
        }
    }
    return {};
}

}  // namespace tarncore
