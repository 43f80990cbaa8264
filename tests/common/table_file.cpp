#include "tests/common/table_file.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/common/test_env.h"

namespace tarntest {
namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One quoted field starting at text[i] == '"'; i ends after the closing quote.
bool read_quoted(const std::string& text, std::size_t& i, std::string& out) {
    for (++i; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            ++i;
            return true;
        }
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        c = text[++i];
        if (c == 'x' && i + 2 < text.size()) {
            out += static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2]));
            i += 2;
            continue;
        }
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return false;
}

}  // namespace

std::vector<TableRow> read_table(const std::string& relative) {
    std::vector<TableRow> rows;
    std::ifstream in(source_path("tests/data/" + relative), std::ios::binary);
    EXPECT_TRUE(in) << "missing test data " << relative;
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (text.empty() || text[0] == '#') continue;
        TableRow row{number, {}};
        for (std::size_t i = 0; i < text.size();) {
            if (text[i] == ' ' || text[i] == '\t') {
                ++i;
                continue;
            }
            std::string field;
            if (text[i] == '"') {
                EXPECT_TRUE(read_quoted(text, i, field)) << relative << ":" << number;
            } else {
                std::size_t end = text.find_first_of(" \t", i);
                if (end == std::string::npos) end = text.size();
                field = text.substr(i, end - i);
                i = end;
            }
            row.fields.push_back(std::move(field));
        }
        if (!row.fields.empty()) rows.push_back(std::move(row));
    }
    return rows;
}

std::string row_where(const std::string& relative, const TableRow& row) {
    return relative + ":" + std::to_string(row.line);
}

}  // namespace tarntest
