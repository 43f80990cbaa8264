// Rows of table-driven tests kept as JSON under tests/data/, each row a test
// of its own: TARN_ROWS(Suite, "area/file.json", "section") makes Suite a
// fixture whose TEST_P bodies read the row as `row`.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "support/error.h"
#include "support/json.h"
#include "support/layout.h"
#include "tests/common/test_env.h"

namespace tarntest {

using tarncore::Json;

/// An Error as one line: a test compares all fields at once and sees them all.
inline std::string error_text(const tarncore::Error& e) {
    return std::to_string(e.code) + " " + e.module + " " + e.function + ": " + e.message +
           (e.traceback.empty() ? "" : " | " + e.traceback);
}

/// The text without the system's reason that a file failure ends with, " (...)":
/// its words differ between systems.
inline std::string without_reason(std::string text) {
    const std::size_t open = text.rfind(" (");
    if (!text.empty() && text.back() == ')' && open != std::string::npos) text.erase(open);
    return text;
}

/// The elements of the array `section` of tests/data/<relative> (the file
/// itself when `section` is empty); a test failure when the file cannot be
/// read or parsed or there are none.
tarncore::Json::Array json_rows(const std::string& relative, const std::string& section = "rows");

/// The array rows of "rows" in tests/data/<relative> whose first cell is `kind`.
tarncore::Json::Array rows_of_kind(const std::string& relative, const std::string& kind);
/// For vector sets too large for a test a row: per kind, {"name": kind,
/// "rows": the rows_of_kind}.
tarncore::Json::Array kind_groups(const std::string& relative,
                                  const std::vector<std::string>& kinds);

/// A test's name for its row: the row's "name" (or "seed"), or for an array
/// its first cell (two when the first is short) and its index; letters and
/// digits kept, the rest "_".
std::string row_name(const testing::TestParamInfo<tarncore::Json>& info);

/// The fixture of every table: `row` is the test's row.
struct Row : testing::TestWithParam<tarncore::Json> {
    const tarncore::Json& row = GetParam();
};

/// TARN_ROWS_OF(Suite, rows): the same over rows made some other way.
#define TARN_ROWS_OF(suite, rows) \
    using suite = tarntest::Row;  \
    INSTANTIATE_TEST_SUITE_P(Rows, suite, testing::ValuesIn(rows), tarntest::row_name)
#define TARN_ROWS(suite, file, section) TARN_ROWS_OF(suite, tarntest::json_rows(file, section))

/// The whole file, or "<missing>".
std::string file_bytes(const tarncore::Path& path);

/// \xHH in a cell as the byte HH: rows that need bytes JSON cannot hold.
std::string unescape(const std::string& text);

/// The elements of an array, the members of an object; empty for anything else.
const tarncore::Json::Array& items(const tarncore::Json& value);
const tarncore::Json::Object& members(const tarncore::Json& value);
/// Whether the member `key` of a row is true.
inline bool flag(const tarncore::Json& row, const std::string& key) {
    const tarncore::Json& value = row.find(key);
    return value.kind == tarncore::JsonKind::Bool && std::get<bool>(value.value);
}
/// An array of strings as lines, each ended by "\n".
std::string lines(const tarncore::Json& value);

/// Bytes from hex digits, two a byte.
std::string from_hex(const std::string& text);
/// The test server's generated body of n bytes: byte i is i % 256.
std::string pattern(std::size_t n);
/// n bytes that do not compress: byte i is the top byte of step i of
/// x = x * 1103515245 + 12345 from x = n.
std::string lcg(std::size_t n);

/// The digest of message fed to hash in pieces of uneven sizes, so that every
/// buffer boundary is crossed.
template <typename Hash>
std::string digest_in_pieces(Hash hash, const std::string& message) {
    static constexpr std::size_t kPieces[] = {1, 127, 7, 128, 129, 64};
    for (std::size_t at = 0, i = 0; at < message.size(); at += kPieces[i++ % 6]) {
        hash.update(message.data() + at, std::min(kPieces[i % 6], message.size() - at));
    }
    const auto digest = hash.finish();
    return std::string(digest.begin(), digest.end());
}

/// `text` with every key (a placeholder such as "{zip}") replaced by its value.
std::string replace_all(std::string text,
                        std::initializer_list<std::pair<std::string, std::string>> fills);
inline std::string replace_all(std::string text, const std::string& key, const std::string& value) {
    return replace_all(std::move(text), {{key, value}});
}

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

namespace tarncore {
// Test lists show a row compactly.
void PrintTo(const Json& row, std::ostream* out);
}  // namespace tarncore
