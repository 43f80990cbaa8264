#include "support/ascii.h"

namespace tarncore {
namespace {

int digit_value(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') {
        v = c - '0';
    } else if (c >= 'a' && c <= 'z') {
        v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'Z') {
        v = c - 'A' + 10;
    }
    return v < base ? v : -1;
}

}  // namespace

std::string ascii_lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = ascii_lower(c);
    return out;
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    }
    return true;
}

std::string console_safe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool c1 = byte == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c1) ++i;
        out += byte < 0x20 || byte == 0x7F || c1 ? '?' : text[i];
    }
    return out;
}

std::optional<CNumber> read_c_number(std::string_view text, int base, std::uint64_t limit) {
    CNumber number;
    std::size_t i = 0;
    while (i < text.size() && is_c_blank(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) number.negative = text[i++] == '-';
    if (base == 16 && i + 2 < text.size() && text[i] == '0' && ascii_lower(text[i + 1]) == 'x' &&
        digit_value(text[i + 2], 16) >= 0) {
        i += 2;
    }
    const std::size_t first_digit = i;
    for (; i < text.size() && digit_value(text[i], base) >= 0; ++i) {
        number.magnitude = number.magnitude * static_cast<std::uint64_t>(base) +
                           static_cast<std::uint64_t>(digit_value(text[i], base));
        if (number.magnitude > limit) return std::nullopt;
    }
    if (i == first_digit) return std::nullopt;
    number.end = i;
    return number;
}

}  // namespace tarncore
