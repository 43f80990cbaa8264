// Byte-text helpers shared by the parsers: ASCII case and the C library's
// number conversion, neither of which may depend on the user's locale.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarncore {

inline char ascii_lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string ascii_lowered(std::string_view text);
bool equals_ignoring_ascii_case(std::string_view a, std::string_view b);
/// The white space of the C library's "C" locale.
inline bool is_c_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline bool is_hex_digit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

/// Text from a server made fit for the console: C0 controls, DEL and the
/// UTF-8 forms of the C1 controls become '?', so no escape sequence, carriage
/// return or line break of the sender's reaches the screen.
std::string console_safe(std::string_view text);

/// What strtoul reads from the front of text: blanks, a sign, digits of base
/// (after "0x" in base 16); the rest is left. nullopt for no digits or a
/// magnitude above limit.
struct CNumber {
    std::uint64_t magnitude = 0;
    bool negative = false;
    std::size_t end = 0;  // index after the last digit
};
std::optional<CNumber> read_c_number(std::string_view text, int base, std::uint64_t limit);

}  // namespace tarncore
