#include "tests/common/test_data.h"

#include <gtest/gtest.h>

#include <cctype>

#include "support/layout.h"

namespace tarntest {

using tarncore::Json;
using tarncore::JsonKind;

Json::Array json_rows(const std::string& relative, const std::string& section) {
    std::string text;
    if (!tarncore::read_file(source_path("tests/data/" + relative), text))
        ADD_FAILURE() << "cannot read tests/data/" << relative;
    tarncore::Error error;
    const Json table = Json::parse(text, error);
    if (error.failed()) ADD_FAILURE() << relative << ": " << error_text(error);
    Json::Array rows = items(section.empty() ? table : table.find(section));
    if (rows.empty()) ADD_FAILURE() << "no rows in " << section << " of tests/data/" << relative;
    return rows;
}

Json::Array rows_of_kind(const std::string& relative, const std::string& kind) {
    Json::Array out;
    for (const Json& row : json_rows(relative)) {
        if (text_at(row, 0) == kind) out.push_back(row);
    }
    return out;
}

Json::Array kind_groups(const std::string& relative, const std::vector<std::string>& kinds) {
    Json::Array out;
    for (const std::string& kind : kinds) {
        out.emplace_back(
            Json::Object{{"name", Json(kind)}, {"rows", rows_of_kind(relative, kind)}});
    }
    return out;
}

std::string row_name(const testing::TestParamInfo<Json>& info) {
    const Json& row = info.param;
    std::string text = row.get_string("name", row.get_string("seed", ""));
    const bool named = !text.empty();
    if (!named) text = text_at(row, 0);
    if (!named && text.size() < 8) text += " " + text_at(row, 1);  // a kind, then what it holds
    std::string name;
    for (const char c : text.substr(0, 48)) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            name += c;
        } else if (!name.empty() && name.back() != '_') {
            name += '_';
        }
    }
    // A name of digits alone would be taken by CMake's discovery for an index.
    if (named && name.find_first_not_of("0123456789_") != std::string::npos) return name;
    return (name.empty() ? "row" : name) + (name.ends_with('_') ? "" : "_") +
           std::to_string(info.index);
}

std::string file_bytes(const tarncore::Path& path) {
    std::string bytes;
    if (!tarncore::read_file(path, bytes)) return "<missing>";
    return bytes;
}

std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool byte = text.compare(i, 2, "\\x") == 0 && i + 3 < text.size() &&
                          std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
                          std::isxdigit(static_cast<unsigned char>(text[i + 3]));
        out += byte ? from_hex(text.substr(i + 2, 2)) : std::string(1, text[i]);
        i += byte ? 3 : 0;
    }
    return out;
}

const Json::Array& items(const Json& value) {
    static const Json::Array none;
    return value.kind == JsonKind::Array ? std::get<Json::Array>(value.value) : none;
}

const Json::Object& members(const Json& value) {
    static const Json::Object none;
    return value.kind == JsonKind::Object ? std::get<Json::Object>(value.value) : none;
}

std::string lines(const Json& value) {
    std::string out;
    for (const Json& line : items(value)) {
        if (line.kind == JsonKind::String) out += std::get<std::string>(line.value) + "\n";
    }
    return out;
}

std::string from_hex(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2)
        bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string pattern(std::size_t n) {
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>(i % 256);
    return out;
}

std::string lcg(std::size_t n) {
    std::string out(n, '\0');
    auto x = static_cast<std::uint32_t>(n);
    for (char& c : out) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    return out;
}

std::string replace_all(std::string text,
                        std::initializer_list<std::pair<std::string, std::string>> fills) {
    for (const auto& [key, value] : fills) {
        for (std::size_t at = text.find(key); at != std::string::npos;
             at = text.find(key, at + value.size())) {
            text.replace(at, key.size(), value);
        }
    }
    return text;
}

}  // namespace tarntest

void tarncore::PrintTo(const Json& row, std::ostream* out) {
    *out << row.get_string("name", "");
}
