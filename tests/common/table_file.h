// Rows of test data from a text file under tests/data: one row a line, fields
// split at blanks; a field in double quotes keeps its blanks and may hold the
// escapes \r \n \t \" \\ and \xHH. Blank lines and lines starting with # are
// skipped.
#pragma once

#include <string>
#include <vector>

namespace tarntest {

struct TableRow {
    int line = 0;  // line number in the file, for failure messages
    std::vector<std::string> fields;
    const std::string& operator[](std::size_t i) const { return fields.at(i); }
    std::size_t size() const { return fields.size(); }
};

/// The rows of tests/data/<relative>; fails the calling test when the file is
/// missing or a quoted field is not closed.
std::vector<TableRow> read_table(const std::string& relative);

/// "path:line" for messages.
std::string row_where(const std::string& relative, const TableRow& row);

}  // namespace tarntest
