#include "tests/common/test_data.h"

#include <gtest/gtest.h>

#include "support/layout.h"
#include "tests/common/error_text.h"
#include "tests/common/test_env.h"

namespace tarntest {

using tarncore::Json;
using tarncore::JsonKind;

Json read_json(const std::string& relative) {
    std::string text;
    if (!tarncore::read_file(source_path("tests/data/" + relative), text)) {
        ADD_FAILURE() << "cannot read tests/data/" << relative;
        return {};
    }
    tarncore::Error error;
    Json rows = Json::parse(text, error);
    if (error.failed()) ADD_FAILURE() << relative << ": " << error_text(error);
    return rows;
}

Json::Array json_rows(const std::string& relative, const std::string& section) {
    const Json table = read_json(relative);
    Json::Array rows = items(section.empty() ? table : table.find(section));
    if (rows.empty()) ADD_FAILURE() << "no rows in " << section << " of tests/data/" << relative;
    return rows;
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

std::string lcg(std::size_t n) {
    std::string out(n, '\0');
    auto x = static_cast<std::uint32_t>(n);
    for (char& c : out) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    return out;
}

std::string replace_all(std::string text, const std::string& key, const std::string& value) {
    for (std::size_t at = text.find(key); at != std::string::npos;
         at = text.find(key, at + value.size())) {
        text.replace(at, key.size(), value);
    }
    return text;
}

}  // namespace tarntest

namespace tarncore {
void PrintTo(const Json& row, std::ostream* out) {
    *out << row.get_string("name", "");
}
}  // namespace tarncore
