#include "support/version.h"

#include <locale>
#include <sstream>
#include <string>

namespace tarncore {
namespace {

std::string_view strip_v(std::string_view text) {
    if (!text.empty() && (text.front() == 'v' || text.front() == 'V')) text.remove_prefix(1);
    return text;
}

}  // namespace

Version parse_version(std::string_view text) {
    text = strip_v(text);
    if (std::size_t plus = text.find('+'); plus != std::string_view::npos)
        text = text.substr(0, plus);
    if (std::size_t dash = text.find('-'); dash != std::string_view::npos)
        text = text.substr(0, dash);

    // A classic-locale stream: white space before each item is skipped, as
    // for any formatted read.
    std::istringstream in{std::string(text)};
    in.imbue(std::locale::classic());
    Version v;
    if (!(in >> v.major)) return Version{};
    char dot = 0;
    if (!(in >> dot) || dot != '.') return v;
    if (!(in >> v.minor)) {
        v.minor = 0;
        return v;
    }
    if (!(in >> dot) || dot != '.') return v;
    if (!(in >> v.patch)) v.patch = 0;
    return v;
}

bool is_valid_version(std::string_view text) {
    if (text.empty()) return false;
    std::string_view rest = strip_v(text);
    if (rest.empty() || rest.front() < '0' || rest.front() > '9') return false;
    Version v = parse_version(text);
    return v.major > 0 || v.minor > 0 || v.patch > 0 || rest.front() == '0';
}

int compare_versions(const Version& a, const Version& b) {
    const std::int32_t left[] = {a.major, a.minor, a.patch};
    const std::int32_t right[] = {b.major, b.minor, b.patch};
    for (int i = 0; i < 3; ++i) {
        if (left[i] != right[i]) return left[i] < right[i] ? -1 : 1;
    }
    return 0;
}

}  // namespace tarncore
