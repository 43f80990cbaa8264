#include "update/minisign.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tarncore {
namespace {

// Strict standard base64 with padding; anything else is no key or signature.
std::optional<std::string> from_base64(std::string_view text) {
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    std::string out;
    std::uint32_t bits = 0;
    int count = 0;
    std::size_t padding = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '=') {
            if (i + 2 < text.size()) return std::nullopt;
            ++padding;
            bits <<= 6;
        } else {
            const std::size_t value = kAlphabet.find(c);
            if (value == std::string_view::npos || padding > 0) return std::nullopt;
            bits = (bits << 6) | static_cast<std::uint32_t>(value);
        }
        if (++count == 4) {
            out += static_cast<char>(bits >> 16);
            out += static_cast<char>(bits >> 8);
            out += static_cast<char>(bits);
            bits = 0;
            count = 0;
        }
    }
    out.resize(out.size() - padding);
    return out;
}

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

template <std::size_t N>
void take(std::array<std::uint8_t, N>& out, const std::string& bytes, std::size_t at) {
    std::memcpy(out.data(), bytes.data() + at, N);
}

constexpr std::string_view kUntrusted = "untrusted comment: ";
constexpr std::string_view kTrusted = "trusted comment: ";

}  // namespace

std::optional<MinisignKey> parse_minisign_key(std::string_view text) {
    std::string_view line;
    for (std::string_view candidate : split_lines(text)) {
        if (!candidate.empty() && !candidate.starts_with(kUntrusted)) line = candidate;
    }
    const std::optional<std::string> bytes = from_base64(line);
    if (!bytes || bytes->size() != 42 || bytes->compare(0, 2, "Ed") != 0) return std::nullopt;
    MinisignKey key;
    take(key.id, *bytes, 2);
    take(key.key, *bytes, 10);
    return key;
}

std::optional<MinisignSignature> parse_minisign_signature(std::string_view text) {
    std::vector<std::string_view> lines = split_lines(text);
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.size() != 4 || !lines[0].starts_with(kUntrusted) || !lines[2].starts_with(kTrusted)) {
        return std::nullopt;
    }
    const std::optional<std::string> body = from_base64(lines[1]);
    const std::optional<std::string> global = from_base64(lines[3]);
    if (!body || body->size() != 74 || !global || global->size() != 64) return std::nullopt;
    MinisignSignature signature;
    if (body->compare(0, 2, "ED") == 0) {
        signature.prehashed = true;
    } else if (body->compare(0, 2, "Ed") != 0) {
        return std::nullopt;
    }
    take(signature.key_id, *body, 2);
    take(signature.signature, *body, 10);
    signature.trusted_comment = std::string(lines[2].substr(kTrusted.size()));
    take(signature.global, *global, 0);
    return signature;
}

std::string key_id_text(const MinisignKeyId& id) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (auto it = id.rbegin(); it != id.rend(); ++it) {
        text += kHex[*it >> 4];
        text += kHex[*it & 0x0f];
    }
    return text;
}

bool MinisignVerifier::start(const MinisignKey& key, const MinisignSignature& signature) {
    if (key.id != signature.key_id) return false;
    std::string global_message(signature.signature.begin(), signature.signature.end());
    global_message += signature.trusted_comment;
    if (!ed25519_verify(key.key, signature.global, global_message.data(), global_message.size())) {
        return false;
    }
    prehashed_ = signature.prehashed;
    prehash_ = Blake2b(64);
    return ed25519_.start(key.key, signature.signature);
}

void MinisignVerifier::update(const void* data, std::size_t length) {
    if (prehashed_) {
        prehash_.update(data, length);
    } else {
        ed25519_.update(data, length);
    }
}

bool MinisignVerifier::finish() {
    if (prehashed_) {
        const std::vector<std::uint8_t> digest = prehash_.finish();
        ed25519_.update(digest.data(), digest.size());
    }
    return ed25519_.finish();
}

}  // namespace tarncore
