// Rows of table-driven tests kept as JSON under tests/data/, for rows that
// nest (server scripts, file trees); flat rows use table_file.h.
#pragma once

#include <string>

#include "support/json.h"

namespace tarntest {

/// The parsed file tests/data/<relative>; a test failure and Null when it
/// cannot be read or parsed.
tarncore::Json read_json(const std::string& relative);

/// The elements of an array, the members of an object; empty for anything else.
const tarncore::Json::Array& items(const tarncore::Json& value);
const tarncore::Json::Object& members(const tarncore::Json& value);
/// An array of strings as lines, each ended by "\n".
std::string lines(const tarncore::Json& value);

/// `text` with every `key` (a placeholder such as "{zip}") replaced by `value`.
std::string replace_all(std::string text, const std::string& key, const std::string& value);

}  // namespace tarntest
