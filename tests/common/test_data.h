// Rows of table-driven tests kept as JSON under tests/data/, for rows that
// nest (server scripts, file trees) and for flat ones alike.
#pragma once

#include <ostream>
#include <string>

#include "support/json.h"
#include "support/layout.h"
#include "tests/common/test_env.h"

namespace tarncore {
/// A row of a TEST_P table shows in test lists by its "name".
void PrintTo(const Json& row, std::ostream* out);
}  // namespace tarncore

namespace tarntest {

using tarncore::Json;

/// The parsed file tests/data/<relative>; a test failure and Null when it
/// cannot be read or parsed.
tarncore::Json read_json(const std::string& relative);

/// The elements of the array `section` of tests/data/<relative> (the file
/// itself when `section` is empty); a test failure when there are none.
tarncore::Json::Array json_rows(const std::string& relative, const std::string& section = "rows");

/// The elements of an array, the members of an object; empty for anything else.
const tarncore::Json::Array& items(const tarncore::Json& value);
const tarncore::Json::Object& members(const tarncore::Json& value);
/// An array of strings as lines, each ended by "\n".
std::string lines(const tarncore::Json& value);

/// Bytes from hex digits, two a byte.
std::string from_hex(const std::string& text);
/// n bytes that do not compress: byte i is the top byte of step i of
/// x = x * 1103515245 + 12345 from x = n.
std::string lcg(std::size_t n);

/// `text` with every `key` (a placeholder such as "{zip}") replaced by `value`.
std::string replace_all(std::string text, const std::string& key, const std::string& value);

/// Element i of an array row as text (numbers and booleans as JSON writes them).
inline std::string text_at(const Json& row, std::size_t i) {
    const Json::Array& cells = items(row);
    if (i >= cells.size()) return {};
    const Json& cell = cells[i];
    if (cell.kind == tarncore::JsonKind::String) return std::get<std::string>(cell.value);
    if (cell.kind == tarncore::JsonKind::Number) {
        return std::to_string(static_cast<long long>(std::get<double>(cell.value)));
    }
    if (cell.kind == tarncore::JsonKind::Bool) return std::get<bool>(cell.value) ? "true" : "false";
    return {};
}

}  // namespace tarntest
