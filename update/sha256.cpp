#include "update/sha256.h"

#include <bit>
#include <cstring>

#include "update/sha256_blocks.h"

namespace tarncore {
namespace {

constexpr std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline std::uint32_t load_be(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// One round; the caller rotates the roles of the eight words instead of
// moving them.
inline void round(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t& d,
                  std::uint32_t e, std::uint32_t f, std::uint32_t g, std::uint32_t& h,
                  std::uint32_t k_plus_w) {
    const std::uint32_t sigma1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
    const std::uint32_t choose = ((f ^ g) & e) ^ g;
    const std::uint32_t sigma0 = std::rotr(a, 2) ^ std::rotr(a, 13) ^ std::rotr(a, 22);
    const std::uint32_t majority = (a & b) | (c & (a | b));
    const std::uint32_t t1 = h + sigma1 + choose + k_plus_w;
    d += t1;
    h = t1 + sigma0 + majority;
}

inline std::uint32_t small_sigma0(std::uint32_t x) {
    return std::rotr(x, 7) ^ std::rotr(x, 18) ^ (x >> 3);
}
inline std::uint32_t small_sigma1(std::uint32_t x) {
    return std::rotr(x, 17) ^ std::rotr(x, 19) ^ (x >> 10);
}

std::vector<std::uint8_t> digest_with(const void* data, std::size_t length, bool extensions) {
    auto blocks = extensions ? sha256_blocks_extensions : sha256_blocks_portable;
    std::uint32_t state[8];
    std::memcpy(state, kInitial, sizeof state);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const std::size_t whole = length / 64;
    if (whole > 0) blocks(state, bytes, whole);

    // Only the tail is copied: it, the 0x80 byte, zeros and the bit length
    // fill one block, or two when fewer than nine bytes are left in the first.
    std::uint8_t tail[128] = {};
    const std::size_t rest = length % 64;
    if (rest > 0) std::memcpy(tail, bytes + whole * 64, rest);
    tail[rest] = 0x80;
    const std::size_t tail_blocks = rest < 56 ? 1 : 2;
    const std::uint64_t bits = static_cast<std::uint64_t>(length) * 8;
    for (int i = 0; i < 8; ++i) {
        tail[tail_blocks * 64 - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    blocks(state, tail, tail_blocks);

    std::vector<std::uint8_t> digest(32);
    for (int i = 0; i < 32; ++i) {
        digest[i] = static_cast<std::uint8_t>(state[i / 4] >> (24 - 8 * (i % 4)));
    }
    return digest;
}

bool use_extensions() {
    static const bool available = sha256_cpu_has_extensions();
    return available;
}

}  // namespace

void sha256_blocks_portable(std::uint32_t state[8], const std::uint8_t* data, std::size_t blocks) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (; blocks > 0; --blocks, data += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = load_be(data + 4 * i);
        for (int t = 0; t < 64; t += 8) {
            if (t >= 16) {
                for (int i = 0; i < 8; ++i) {
                    const int j = (t + i) % 16;
                    w[j] += small_sigma1(w[(j + 14) % 16]) + w[(j + 9) % 16] +
                            small_sigma0(w[(j + 1) % 16]);
                }
            }
            const int j = t % 16;
            round(a, b, c, d, e, f, g, h, kRound[t] + w[j]);
            round(h, a, b, c, d, e, f, g, kRound[t + 1] + w[j + 1]);
            round(g, h, a, b, c, d, e, f, kRound[t + 2] + w[j + 2]);
            round(f, g, h, a, b, c, d, e, kRound[t + 3] + w[j + 3]);
            round(e, f, g, h, a, b, c, d, kRound[t + 4] + w[j + 4]);
            round(d, e, f, g, h, a, b, c, kRound[t + 5] + w[j + 5]);
            round(c, d, e, f, g, h, a, b, kRound[t + 6] + w[j + 6]);
            round(b, c, d, e, f, g, h, a, kRound[t + 7] + w[j + 7]);
        }
        a = state[0] += a;
        b = state[1] += b;
        c = state[2] += c;
        d = state[3] += d;
        e = state[4] += e;
        f = state[5] += f;
        g = state[6] += g;
        h = state[7] += h;
    }
}

std::vector<std::uint8_t> sha256_digest(const void* data, std::size_t length) {
    return digest_with(data, length, use_extensions());
}

std::vector<std::uint8_t> sha256_digest(const void* data, std::size_t length, Sha256Path path) {
    return digest_with(data, length, path == Sha256Path::Extensions && use_extensions());
}

bool sha256_path_available(Sha256Path path) {
    return path == Sha256Path::Portable || use_extensions();
}

std::string sha256_hex(const void* data, std::size_t length) {
    static constexpr char kAlphabet[] = "0123456789abcdef";
    const std::vector<std::uint8_t> digest = sha256_digest(data, length);
    std::string text(64, '0');
    for (std::size_t i = 0; i < digest.size(); ++i) {
        text[2 * i] = kAlphabet[digest[i] >> 4];
        text[2 * i + 1] = kAlphabet[digest[i] & 0x0f];
    }
    return text;
}

}  // namespace tarncore
