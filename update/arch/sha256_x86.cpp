// The SHA-256 compression by the x86 SHA extensions. Built only for x86-64
// targets, with -msha -msse4.1 for this file alone (update/CMakeLists.txt);
// reached only after sha256_cpu_has_extensions() said yes.
#include <cpuid.h>
#include <immintrin.h>

#include "update/sha256_blocks.h"

namespace tarncore {
namespace {

inline __m128i k4(std::uint32_t k0, std::uint32_t k1, std::uint32_t k2, std::uint32_t k3) {
    return _mm_set_epi32(static_cast<int>(k3), static_cast<int>(k2), static_cast<int>(k1),
                         static_cast<int>(k0));
}

// Four rounds with the message words w (+ constants k); on the way, the
// schedule moves on: next gets its second half (msg2) and prev its first
// (msg1), as far as the block still needs them.
template <bool kNext, bool kPrev>
inline void rounds4(__m128i& abef, __m128i& cdgh, __m128i w, __m128i k, __m128i& prev,
                    __m128i& next) {
    __m128i wk = _mm_add_epi32(w, k);
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
    if constexpr (kNext) {
        next = _mm_add_epi32(next, _mm_alignr_epi8(w, prev, 4));
        next = _mm_sha256msg2_epu32(next, w);
    }
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
    if constexpr (kPrev) prev = _mm_sha256msg1_epu32(prev, w);
}

}  // namespace

bool sha256_cpu_has_extensions() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    const bool ssse3 = (c & (1u << 9)) != 0;
    const bool sse41 = (c & (1u << 19)) != 0;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return ssse3 && sse41 && (b & (1u << 29)) != 0;
}

void sha256_blocks_extensions(std::uint32_t state[8], const std::uint8_t* data,
                              std::size_t blocks) {
    const __m128i byte_swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    // The instructions keep the state as ABEF and CDGH.
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; blocks > 0; --blocks, data += 64) {
        const __m128i abef_in = abef, cdgh_in = cdgh;
        const auto* p = reinterpret_cast<const __m128i*>(data);
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(p), byte_swap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(p + 1), byte_swap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(p + 2), byte_swap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(p + 3), byte_swap);

        rounds4<false, false>(abef, cdgh, m0, k4(0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5),
                              m3, m1);
        rounds4<false, true>(abef, cdgh, m1, k4(0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5), m0,
                             m2);
        rounds4<false, true>(abef, cdgh, m2, k4(0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3), m1,
                             m3);
        rounds4<true, true>(abef, cdgh, m3, k4(0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174), m2,
                            m0);
        rounds4<true, true>(abef, cdgh, m0, k4(0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc), m3,
                            m1);
        rounds4<true, true>(abef, cdgh, m1, k4(0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da), m0,
                            m2);
        rounds4<true, true>(abef, cdgh, m2, k4(0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7), m1,
                            m3);
        rounds4<true, true>(abef, cdgh, m3, k4(0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967), m2,
                            m0);
        rounds4<true, true>(abef, cdgh, m0, k4(0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13), m3,
                            m1);
        rounds4<true, true>(abef, cdgh, m1, k4(0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85), m0,
                            m2);
        rounds4<true, true>(abef, cdgh, m2, k4(0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3), m1,
                            m3);
        rounds4<true, true>(abef, cdgh, m3, k4(0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070), m2,
                            m0);
        rounds4<true, true>(abef, cdgh, m0, k4(0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5), m3,
                            m1);
        rounds4<true, false>(abef, cdgh, m1, k4(0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3), m0,
                             m2);
        rounds4<true, false>(abef, cdgh, m2, k4(0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208), m1,
                             m3);
        rounds4<false, false>(abef, cdgh, m3, k4(0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2),
                              m2, m0);

        abef = _mm_add_epi32(abef, abef_in);
        cdgh = _mm_add_epi32(cdgh, cdgh_in);
    }

    // Back from ABEF / CDGH to A..H.
    __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

}  // namespace tarncore
