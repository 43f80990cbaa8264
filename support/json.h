// The small JSON library shared by the install record and the update answer:
// a value type, a strict parser reporting byte offsets, typed look-ups and a
// writer.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "support/error.h"

namespace tarncore {

enum class JsonKind : std::uint32_t {
    Null = 0,
    Bool = 1,
    Number = 2,
    String = 3,
    Array = 4,
    Object = 5,
};

struct Json {
    using Array = std::vector<Json>;
    using Object = std::map<std::string, Json>;  // std::less<string> is bytewise unsigned
    // Alternative index must equal static_cast<size_t>(kind).
    using Value = std::variant<std::monostate, bool, double, std::string, Array, Object>;

    /// Arrays and objects may nest at most this deep. The parser recurses once
    /// per level, so hostile input could otherwise exhaust the stack; opening
    /// one bracket more fails with "Nesting too deep" at that bracket's offset.
    static constexpr std::size_t kMaxDepth = 512;

    JsonKind kind = JsonKind::Null;
    Value value;
    std::int64_t integer = 0;
    bool is_integer = false;

    Json() = default;
    Json(std::string s);
    Json(const char* s);
    Json(double d);
    Json(bool b);
    Json(Array a);
    Json(Object o);

    /// Resets `error`; on failure returns Null and fills it (code 5).
    static Json parse(std::string_view text, Error& error);

    /// The member `key` of an Object, else the shared immutable Null.
    const Json& find(const std::string& key) const;
    std::string get_string(const std::string& key, const std::string& fallback) const;
    std::int64_t get_int(const std::string& key, std::int64_t fallback) const;

    /// Turns a non-Object into an empty Object first; creates the member as Null.
    Json& operator[](const std::string& key);

    std::string dump(bool pretty) const;
};

}  // namespace tarncore
