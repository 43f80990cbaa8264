#include "support/json.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace tarncore {

Json::Json(std::string s) : kind(JsonKind::String), value(std::move(s)) {}
Json::Json(const char* s) : kind(JsonKind::String), value(std::string(s)) {}
Json::Json(double d) : kind(JsonKind::Number), value(d) {}
Json::Json(bool b) : kind(JsonKind::Bool), value(b) {}
Json::Json(Array a) : kind(JsonKind::Array), value(std::move(a)) {}
Json::Json(Object o) : kind(JsonKind::Object), value(std::move(o)) {}

namespace {

const Json& shared_null() {
    static const Json null_value;
    return null_value;
}

// Thrown only inside this file; parse() turns it into the Error.
struct ParseFailure {
    const char* reason;
    std::size_t pos;
};

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    Json document() {
        if (text_.size() >= 3 && static_cast<unsigned char>(text_[0]) == 0xEF &&
            static_cast<unsigned char>(text_[1]) == 0xBB &&
            static_cast<unsigned char>(text_[2]) == 0xBF) {
            pos_ = 3;
        }
        Json result = value();
        skip_ws();
        if (pos_ != text_.size()) fail("Unexpected trailing data after JSON value");
        return result;
    }

private:
    [[noreturn]] void fail(const char* reason) { throw ParseFailure{reason, pos_}; }

    bool at_end() const { return pos_ >= text_.size(); }
    char peek() const { return text_[pos_]; }

    void skip_ws() {
        while (!at_end() && std::isspace(static_cast<unsigned char>(peek()))) ++pos_;
    }

    Json value() {
        skip_ws();
        if (at_end()) fail("Unexpected character");
        const char c = peek();
        switch (c) {
            case '{': return object();
            case '[': return array();
            case '"': return Json(string());
            case 't':
            case 'f': return boolean();
            case 'n': return null_literal();
            default: break;
        }
        if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) return number();
        fail("Unexpected character");
    }

    bool literal_here(std::string_view word) const {
        return text_.substr(pos_, word.size()) == word;
    }

    Json boolean() {
        if (literal_here("true")) {
            pos_ += 4;
            return Json(true);
        }
        if (literal_here("false")) {
            pos_ += 5;
            return Json(false);
        }
        fail("Invalid boolean literal");
    }

    Json null_literal() {
        if (!literal_here("null")) fail("Invalid null literal");
        pos_ += 4;
        return Json();
    }

    bool digit_here() const {
        return !at_end() && std::isdigit(static_cast<unsigned char>(peek()));
    }
    void skip_digits() {
        while (digit_here()) ++pos_;
    }

    Json number() {
        const std::size_t start = pos_;
        bool integral = true;
        if (peek() == '-') ++pos_;
        if (!digit_here()) fail("Invalid number");
        if (peek() == '0') {
            ++pos_;  // a leading zero stands alone; what follows is the caller's problem
        } else {
            skip_digits();
        }
        if (!at_end() && peek() == '.') {
            ++pos_;
            integral = false;
            if (!digit_here()) fail("Invalid fractional number");
            skip_digits();
        }
        if (!at_end() && (peek() == 'e' || peek() == 'E')) {
            ++pos_;
            integral = false;
            if (!at_end() && (peek() == '+' || peek() == '-')) ++pos_;
            if (!digit_here()) fail("Invalid exponent");
            skip_digits();
        }
        // strtoll/strtod need a terminated copy; the view is not NUL-terminated.
        const std::string digits(text_.substr(start, pos_ - start));
        Json result;
        result.kind = JsonKind::Number;
        if (integral) {
            errno = 0;
            const long long v = std::strtoll(digits.c_str(), nullptr, 10);
            if (errno != ERANGE) {
                result.value = static_cast<double>(v);
                result.integer = v;
                result.is_integer = true;
                return result;
            }
        }
        errno = 0;
        const double d = std::strtod(digits.c_str(), nullptr);
        if (errno == ERANGE) fail("Number out of range");
        result.value = d;
        return result;
    }

    static int hex_value(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }

    std::string string() {
        const char open = at_end() ? '\0' : peek();
        ++pos_;
        if (open != '"') {
            if (pos_ > text_.size()) pos_ = text_.size();
            fail("Expected string");
        }
        std::string out;
        for (;;) {
            if (at_end()) fail("Unterminated string");
            const char c = text_[pos_++];
            if (c == '"') return out;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (at_end()) fail("Unterminated string");
            const char e = text_[pos_++];
            switch (e) {
                case '"': out.push_back('"'); break;
                case '\\': out.push_back('\\'); break;
                case '/': out.push_back('/'); break;
                case 'b': out.push_back('\b'); break;
                case 'f': out.push_back('\f'); break;
                case 'n': out.push_back('\n'); break;
                case 'r': out.push_back('\r'); break;
                case 't': out.push_back('\t'); break;
                case 'u': unicode_escape(out); break;
                default: fail("Invalid escape sequence");
            }
        }
    }

    void unicode_escape(std::string& out) {
        if (text_.size() - pos_ < 4) fail("Truncated unicode escape");
        unsigned u = 0;
        for (int i = 0; i < 4; ++i) {
            const int h = hex_value(text_[pos_++]);
            if (h < 0) fail("Invalid unicode escape");
            u = (u << 4) | static_cast<unsigned>(h);
        }
        // Each code unit on its own: surrogate halves are not paired.
        if (u <= 0x7F) {
            out.push_back(static_cast<char>(u));
        } else if (u <= 0x7FF) {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (u >> 12)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }

    void enter() {
        if (depth_ >= Json::kMaxDepth) fail("Nesting too deep");
        ++depth_;
    }

    Json array() {
        skip_ws();
        if (at_end() || peek() != '[') fail("Expected array");
        enter();
        ++pos_;
        Json::Array items;
        skip_ws();
        if (!at_end() && peek() == ']') {
            ++pos_;
            --depth_;
            return Json(std::move(items));
        }
        for (;;) {
            items.push_back(value());
            skip_ws();
            if (!at_end() && peek() == ']') {
                ++pos_;
                --depth_;
                return Json(std::move(items));
            }
            if (at_end() || peek() != ',') fail("Expected ',' or ']' in array");
            ++pos_;
        }
    }

    Json object() {
        skip_ws();
        if (at_end() || peek() != '{') fail("Expected object");
        enter();
        ++pos_;
        Json::Object members;
        skip_ws();
        if (!at_end() && peek() == '}') {
            ++pos_;
            --depth_;
            return Json(std::move(members));
        }
        for (;;) {
            skip_ws();
            std::string key = string();
            skip_ws();
            if (at_end() || peek() != ':') fail("Expected ':' after object key");
            ++pos_;
            Json member = value();
            members.try_emplace(std::move(key), std::move(member));  // first one wins
            skip_ws();
            if (!at_end() && peek() == '}') {
                ++pos_;
                --depth_;
                return Json(std::move(members));
            }
            if (at_end() || peek() != ',') fail("Expected ',' or '}' in object");
            ++pos_;
        }
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t depth_ = 0;
};

void write_string(const std::string& s, std::string& out) {
    out.push_back('"');
    for (const char ch : s) {
        const auto b = static_cast<unsigned char>(ch);
        switch (b) {
            case 0x22: out += "\\\""; break;
            case 0x5C: out += "\\\\"; break;
            case 0x08: out += "\\b"; break;
            case 0x09: out += "\\t"; break;
            case 0x0A: out += "\\n"; break;
            case 0x0C: out += "\\f"; break;
            case 0x0D: out += "\\r"; break;
            default:
                if (b < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(b));
                    out += buf;
                } else {
                    out.push_back(ch);
                }
        }
    }
    out.push_back('"');
}

void write_value(const Json& v, bool pretty, std::size_t level, std::string& out) {
    switch (v.kind) {
        case JsonKind::Null: out += "null"; return;
        case JsonKind::Bool: out += std::get<bool>(v.value) ? "true" : "false"; return;
        case JsonKind::Number:
            if (v.is_integer) {
                out += std::to_string(v.integer);  // handles INT64_MIN exactly
            } else {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.17g", std::get<double>(v.value));
                out += buf;
            }
            return;
        case JsonKind::String: write_string(std::get<std::string>(v.value), out); return;
        case JsonKind::Array: {
            const auto& items = std::get<Json::Array>(v.value);
            out.push_back('[');
            if (pretty && !items.empty()) out.push_back('\n');
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (pretty) out.append(2 * (level + 1), ' ');
                write_value(items[i], pretty, level + 1, out);
                if (i + 1 < items.size()) out.push_back(',');
                if (pretty) out.push_back('\n');
            }
            if (pretty && !items.empty()) out.append(2 * level, ' ');
            out.push_back(']');
            return;
        }
        case JsonKind::Object: {
            const auto& members = std::get<Json::Object>(v.value);
            out.push_back('{');
            if (pretty && !members.empty()) out.push_back('\n');
            std::size_t i = 0;
            for (const auto& [key, member] : members) {
                if (pretty) out.append(2 * (level + 1), ' ');
                write_string(key, out);
                out += pretty ? ": " : ":";
                write_value(member, pretty, level + 1, out);
                if (++i < members.size()) out.push_back(',');
                if (pretty) out.push_back('\n');
            }
            if (pretty && !members.empty()) out.append(2 * level, ' ');
            out.push_back('}');
            return;
        }
    }
}

}  // namespace

Json Json::parse(std::string_view text, Error& error) {
    error = Error();
    try {
        return Parser(text).document();
    } catch (const ParseFailure& f) {
        error = Error(kErrJson, "json", "Json.parse",
                      std::string(f.reason) + " at position " + std::to_string(f.pos));
        return Json();
    }
}

const Json& Json::find(const std::string& key) const {
    if (kind != JsonKind::Object) return shared_null();
    const auto& members = std::get<Object>(value);
    const auto it = members.find(key);
    return it == members.end() ? shared_null() : it->second;
}

std::string Json::get_string(const std::string& key, const std::string& fallback) const {
    const Json& m = find(key);
    return m.kind == JsonKind::String ? std::get<std::string>(m.value) : fallback;
}

std::int64_t Json::get_int(const std::string& key, std::int64_t fallback) const {
    const Json& m = find(key);
    if (m.kind != JsonKind::Number) return fallback;
    if (m.is_integer) return m.integer;
    const double d = std::get<double>(m.value);
    // The cast is undefined outside int64's range, so clamp there (NaN gives 0).
    if (d != d) return 0;
    if (d >= 9223372036854775808.0) return INT64_MAX;
    if (d < -9223372036854775808.0) return INT64_MIN;
    return static_cast<std::int64_t>(d);
}

Json& Json::operator[](const std::string& key) {
    if (kind != JsonKind::Object) *this = Json(Object{});
    return std::get<Object>(value)[key];
}

std::string Json::dump(bool pretty) const {
    std::string out;
    write_value(*this, pretty, 0, out);
    return out;
}

}  // namespace tarncore
