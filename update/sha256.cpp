#include "update/sha256.h"

#include <algorithm>
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

// One round; the caller rotates the roles of the eight words instead of
// moving them. a ^ b is carried into the next round, where it is b ^ c, so
// the majority costs two operations. Sigma0 is written with one rotation
// fewer (rotr 2 of a ^ rotr 11 ^ rotr 20), which the a-chain can afford.
inline void round(std::uint32_t a, std::uint32_t b, std::uint32_t& d, std::uint32_t e,
                  std::uint32_t f, std::uint32_t g, std::uint32_t& h, std::uint32_t& b_xor_c,
                  std::uint32_t w_plus_k) {
    const std::uint32_t sigma1 = std::rotr(e, 6) ^ std::rotr(e, 11) ^ std::rotr(e, 25);
    const std::uint32_t choose = ((f ^ g) & e) ^ g;
    const std::uint32_t hk = h + w_plus_k;
    d = d + hk + choose + sigma1;
    const std::uint32_t a_xor_b = a ^ b;
    const std::uint32_t sigma0 = std::rotr(a ^ std::rotr(a, 11) ^ std::rotr(a, 20), 2);
    h = hk + choose + sigma1 + sigma0 + ((a_xor_b & b_xor_c) ^ b);
    b_xor_c = a_xor_b;
}

// Four schedule words in one vector: the compiler lowers it to the target's
// SIMD registers, or to scalar code where there are none.
using Words4 = std::uint32_t __attribute__((vector_size(16)));

inline Words4 rotr4(Words4 x, int n) {
    return (x >> n) | (x << (32 - n));
}

using Words2x64 = std::uint64_t __attribute__((vector_size(16)));

// sigma1 of lanes i and j, in lanes 0 and 1 and again in 2 and 3: each word
// doubled into a 64-bit lane, where one shift is a rotation of its low half.
template <int i, int j>
inline Words4 sigma1_pair(Words4 x) {
    constexpr int low = std::endian::native == std::endian::little ? 0 : 1;
    const Words4 pairs = __builtin_shufflevector(x, x, i, i, j, j);
    const auto doubled = reinterpret_cast<Words2x64>(pairs);
    const auto rotated = reinterpret_cast<Words4>((doubled >> 17) ^ (doubled >> 19));
    const Words4 mixed = rotated ^ (pairs >> 10);
    return __builtin_shufflevector(mixed, mixed, low, low + 2, low, low + 2);
}

// W[t..t+3] from x0 = W[t-16..t-13] .. x3 = W[t-4..t-1]. The last two
// words need the first two of the same step for their sigma1.
inline Words4 schedule4(Words4 x0, Words4 x1, Words4 x2, Words4 x3) {
    const Words4 w15 = __builtin_shufflevector(x0, x1, 1, 2, 3, 4);
    const Words4 w7 = __builtin_shufflevector(x2, x3, 1, 2, 3, 4);
    Words4 w = x0 + w7 + (rotr4(w15, 7) ^ rotr4(w15, 18) ^ (w15 >> 3));
    const Words4 low = w + sigma1_pair<2, 3>(x3);
    const Words4 high = w + sigma1_pair<0, 1>(low);
    return __builtin_shufflevector(low, high, 0, 1, 6, 7);
}

std::vector<std::uint8_t> digest_with(const void* data, std::size_t length, bool extensions) {
    Sha256 digest(extensions);
    digest.update(data, length);
    return digest.finish();
}

bool use_extensions() {
    static const bool available = sha256_cpu_has_extensions();
    return available;
}

// Four big-endian message words. On a little-endian machine: one load, then
// the halves of each word swapped, then the bytes of each half.
inline Words4 load_words(const std::uint8_t* p) {
    using Halves8 = std::uint16_t __attribute__((vector_size(16)));
    Words4 x;
    __builtin_memcpy(&x, p, sizeof x);
    if constexpr (std::endian::native == std::endian::big) return x;
    x = (x << 16) | (x >> 16);
    const auto h = reinterpret_cast<Halves8>(x);
    return reinterpret_cast<Words4>(static_cast<Halves8>((h << 8) | (h >> 8)));
}

inline void store_plus_k(std::uint32_t* wk, int t, Words4 w) {
    const Words4 sum = w + Words4{kRound[t], kRound[t + 1], kRound[t + 2], kRound[t + 3]};
    __builtin_memcpy(wk + t, &sum, sizeof sum);
}

// Rounds t..t+15 and, with kSchedule, the schedule sixteen words ahead,
// four words after each four rounds: its chain of vector operations then
// overlaps theirs instead of waiting in front of it. Without branches: the
// last sixteen rounds are a separate instance.
template <bool kSchedule>
inline void sixteen_rounds(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d,
                           std::uint32_t& e, std::uint32_t& f, std::uint32_t& g, std::uint32_t& h,
                           std::uint32_t& b_xor_c, std::uint32_t* wk, int t, Words4& x0, Words4& x1,
                           Words4& x2, Words4& x3) {
    round(a, b, d, e, f, g, h, b_xor_c, wk[t]);
    round(h, a, c, d, e, f, g, b_xor_c, wk[t + 1]);
    round(g, h, b, c, d, e, f, b_xor_c, wk[t + 2]);
    round(f, g, a, b, c, d, e, b_xor_c, wk[t + 3]);
    if constexpr (kSchedule) {
        x0 = schedule4(x0, x1, x2, x3);
        store_plus_k(wk, t + 16, x0);
    }
    round(e, f, h, a, b, c, d, b_xor_c, wk[t + 4]);
    round(d, e, g, h, a, b, c, b_xor_c, wk[t + 5]);
    round(c, d, f, g, h, a, b, b_xor_c, wk[t + 6]);
    round(b, c, e, f, g, h, a, b_xor_c, wk[t + 7]);
    if constexpr (kSchedule) {
        x1 = schedule4(x1, x2, x3, x0);
        store_plus_k(wk, t + 20, x1);
    }
    round(a, b, d, e, f, g, h, b_xor_c, wk[t + 8]);
    round(h, a, c, d, e, f, g, b_xor_c, wk[t + 9]);
    round(g, h, b, c, d, e, f, b_xor_c, wk[t + 10]);
    round(f, g, a, b, c, d, e, b_xor_c, wk[t + 11]);
    if constexpr (kSchedule) {
        x2 = schedule4(x2, x3, x0, x1);
        store_plus_k(wk, t + 24, x2);
    }
    round(e, f, h, a, b, c, d, b_xor_c, wk[t + 12]);
    round(d, e, g, h, a, b, c, b_xor_c, wk[t + 13]);
    round(c, d, f, g, h, a, b, b_xor_c, wk[t + 14]);
    round(b, c, e, f, g, h, a, b_xor_c, wk[t + 15]);
    if constexpr (kSchedule) {
        x3 = schedule4(x3, x0, x1, x2);
        store_plus_k(wk, t + 28, x3);
    }
}

}  // namespace

void sha256_blocks_portable(std::uint32_t state[8], const std::uint8_t* data, std::size_t blocks) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (; blocks > 0; --blocks, data += 64) {
        alignas(16) std::uint32_t wk[64];
        Words4 x0 = load_words(data), x1 = load_words(data + 16);
        Words4 x2 = load_words(data + 32), x3 = load_words(data + 48);
        store_plus_k(wk, 0, x0);
        store_plus_k(wk, 4, x1);
        store_plus_k(wk, 8, x2);
        store_plus_k(wk, 12, x3);
        std::uint32_t b_xor_c = b ^ c;
        for (int t = 0; t < 48; t += 16) {
            sixteen_rounds<true>(a, b, c, d, e, f, g, h, b_xor_c, wk, t, x0, x1, x2, x3);
        }
        sixteen_rounds<false>(a, b, c, d, e, f, g, h, b_xor_c, wk, 48, x0, x1, x2, x3);
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

Sha256::Sha256() : Sha256(use_extensions()) {}

Sha256::Sha256(bool extensions) : extensions_(extensions) {
    std::memcpy(state_, kInitial, sizeof state_);
}

void Sha256::update(const void* data, std::size_t length) {
    auto blocks = extensions_ ? sha256_blocks_extensions : sha256_blocks_portable;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    length_ += length;
    if (pending_size_ > 0) {
        const std::size_t take = std::min(length, sizeof pending_ - pending_size_);
        std::memcpy(pending_ + pending_size_, bytes, take);
        pending_size_ += take;
        bytes += take;
        length -= take;
        if (pending_size_ < sizeof pending_) return;
        blocks(state_, pending_, 1);
        pending_size_ = 0;
    }
    // Whole blocks straight from the caller's bytes; only a tail is kept.
    if (length >= 64) blocks(state_, bytes, length / 64);
    const std::size_t rest = length % 64;
    std::memcpy(pending_, bytes + (length - rest), rest);
    pending_size_ = rest;
}

std::vector<std::uint8_t> Sha256::finish() {
    auto blocks = extensions_ ? sha256_blocks_extensions : sha256_blocks_portable;
    // The tail, the 0x80 byte, zeros and the bit length fill one block, or
    // two when fewer than nine bytes are left in the first.
    std::uint8_t tail[128] = {};
    std::memcpy(tail, pending_, pending_size_);
    tail[pending_size_] = 0x80;
    const std::size_t tail_blocks = pending_size_ < 56 ? 1 : 2;
    const std::uint64_t bits = length_ * 8;
    for (int i = 0; i < 8; ++i) {
        tail[tail_blocks * 64 - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    blocks(state_, tail, tail_blocks);
    std::vector<std::uint8_t> digest(32);
    for (int i = 0; i < 32; ++i) {
        digest[i] = static_cast<std::uint8_t>(state_[i / 4] >> (24 - 8 * (i % 4)));
    }
    *this = Sha256(extensions_);
    return digest;
}

std::string Sha256::finish_hex() {
    return hex_text(finish());
}

std::string hex_text(const std::vector<std::uint8_t>& digest) {
    static constexpr char kAlphabet[] = "0123456789abcdef";
    std::string text(2 * digest.size(), '0');
    for (std::size_t i = 0; i < digest.size(); ++i) {
        text[2 * i] = kAlphabet[digest[i] >> 4];
        text[2 * i + 1] = kAlphabet[digest[i] & 0x0f];
    }
    return text;
}

std::string sha256_hex(const void* data, std::size_t length) {
    return hex_text(sha256_digest(data, length));
}

}  // namespace tarncore
