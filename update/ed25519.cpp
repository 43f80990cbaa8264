#include "update/ed25519.h"

#include <cstring>
#include <optional>

namespace tarncore {
namespace {

// Arithmetic modulo p = 2^255 - 19 in five limbs of 51 bits. Verification
// handles public data only, so nothing here needs to run in constant time.
using U128 = unsigned __int128;
constexpr std::uint64_t kMask = (std::uint64_t{1} << 51) - 1;

struct Fe {
    std::uint64_t v[5];
};
using Bytes32 = std::array<std::uint8_t, 32>;

Fe fe_small(std::uint64_t x) {
    return {{x, 0, 0, 0, 0}};
}

void carry(Fe& h) {
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < 4; ++i) {
            h.v[i + 1] += h.v[i] >> 51;
            h.v[i] &= kMask;
        }
        h.v[0] += 19 * (h.v[4] >> 51);
        h.v[4] &= kMask;
    }
}

Fe operator+(const Fe& a, const Fe& b) {
    Fe h;
    for (int i = 0; i < 5; ++i) h.v[i] = a.v[i] + b.v[i];
    carry(h);
    return h;
}

// a + 4p - b keeps every limb positive.
Fe operator-(const Fe& a, const Fe& b) {
    Fe h;
    h.v[0] = a.v[0] + 0x1FFFFFFFFFFFB4 - b.v[0];
    for (int i = 1; i < 5; ++i) h.v[i] = a.v[i] + 0x1FFFFFFFFFFFFC - b.v[i];
    carry(h);
    return h;
}

Fe operator*(const Fe& a, const Fe& b) {
    const std::uint64_t* x = a.v;
    const std::uint64_t* y = b.v;
    const std::uint64_t y1 = 19 * y[1], y2 = 19 * y[2], y3 = 19 * y[3], y4 = 19 * y[4];
    U128 r[5];
    r[0] =
        U128(x[0]) * y[0] + U128(x[1]) * y4 + U128(x[2]) * y3 + U128(x[3]) * y2 + U128(x[4]) * y1;
    r[1] =
        U128(x[0]) * y[1] + U128(x[1]) * y[0] + U128(x[2]) * y4 + U128(x[3]) * y3 + U128(x[4]) * y2;
    r[2] = U128(x[0]) * y[2] + U128(x[1]) * y[1] + U128(x[2]) * y[0] + U128(x[3]) * y4 +
           U128(x[4]) * y3;
    r[3] = U128(x[0]) * y[3] + U128(x[1]) * y[2] + U128(x[2]) * y[1] + U128(x[3]) * y[0] +
           U128(x[4]) * y4;
    r[4] = U128(x[0]) * y[4] + U128(x[1]) * y[3] + U128(x[2]) * y[2] + U128(x[3]) * y[1] +
           U128(x[4]) * y[0];
    for (int i = 0; i < 4; ++i) {
        r[i + 1] += r[i] >> 51;
        r[i] &= kMask;
    }
    Fe h;
    for (int i = 0; i < 5; ++i) h.v[i] = static_cast<std::uint64_t>(r[i] & kMask);
    h.v[0] += 19 * static_cast<std::uint64_t>(r[4] >> 51);
    carry(h);
    return h;
}

Fe negate(const Fe& a) {
    return fe_small(0) - a;
}

// z to the power given as 32 little-endian bytes.
Fe power(const Fe& z, const Bytes32& exponent) {
    Fe r = fe_small(1);
    for (int bit = 255; bit >= 0; --bit) {
        r = r * r;
        if ((exponent[bit / 8] >> (bit % 8)) & 1) r = r * z;
    }
    return r;
}

// p - 2, (p - 5) / 8 and (p - 1) / 4.
constexpr Bytes32 exponent_bytes(std::uint8_t low, std::uint8_t high) {
    Bytes32 e{};
    for (auto& byte : e) byte = 0xff;
    e[0] = low;
    e[31] = high;
    return e;
}
constexpr Bytes32 kInverse = exponent_bytes(0xeb, 0x7f);
constexpr Bytes32 kSqrtRatio = exponent_bytes(0xfd, 0x0f);
constexpr Bytes32 kSqrtMinusOne = exponent_bytes(0xfb, 0x1f);

std::uint64_t load64(const std::uint8_t* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// The low 255 bits; the caller checks for a value at or above p.
Fe from_bytes(const Bytes32& s) {
    return {{load64(&s[0]) & kMask, (load64(&s[6]) >> 3) & kMask, (load64(&s[12]) >> 6) & kMask,
             (load64(&s[19]) >> 1) & kMask, (load64(&s[24]) >> 12) & kMask}};
}

// The canonical encoding, below p.
Bytes32 to_bytes(Fe h) {
    carry(h);
    std::uint64_t q = (h.v[0] + 19) >> 51;
    for (int i = 1; i < 5; ++i) q = (h.v[i] + q) >> 51;
    h.v[0] += 19 * q;
    for (int i = 0; i < 4; ++i) {
        h.v[i + 1] += h.v[i] >> 51;
        h.v[i] &= kMask;
    }
    h.v[4] &= kMask;
    Bytes32 out{};
    U128 acc = 0;
    int bits = 0, at = 0;
    for (const std::uint64_t limb : h.v) {
        acc |= U128(limb) << bits;
        for (bits += 51; bits >= 8; bits -= 8, acc >>= 8) {
            out[at++] = static_cast<std::uint8_t>(acc);
        }
    }
    out[at] = static_cast<std::uint8_t>(acc);
    return out;
}

bool operator==(const Fe& a, const Fe& b) {
    return to_bytes(a) == to_bytes(b);
}

bool is_odd(const Fe& a) {
    return (to_bytes(a)[0] & 1) != 0;
}

struct Curve {
    Fe d, d2, sqrt_minus_one;
    Curve() {
        d = negate(fe_small(121665)) * power(fe_small(121666), kInverse);
        d2 = d + d;
        sqrt_minus_one = power(fe_small(2), kSqrtMinusOne);
    }
};

const Curve& curve() {
    static const Curve c;
    return c;
}

// Extended coordinates: x = X/Z, y = Y/Z, x*y = T/Z.
struct Point {
    Fe x, y, z, t;
};

Point identity() {
    return {fe_small(0), fe_small(1), fe_small(1), fe_small(0)};
}

// The unified addition of the twisted Edwards curve with a = -1, complete
// for every pair of points, doubling included.
Point operator+(const Point& p, const Point& q) {
    const Fe a = (p.y - p.x) * (q.y - q.x);
    const Fe b = (p.y + p.x) * (q.y + q.x);
    const Fe c = p.t * curve().d2 * q.t;
    const Fe d = (p.z + p.z) * q.z;
    const Fe e = b - a, f = d - c, g = d + c, h = b + a;
    return {e * f, g * h, f * g, e * h};
}

Point negate(const Point& p) {
    return {negate(p.x), p.y, p.z, negate(p.t)};
}

std::optional<Point> decode(const Bytes32& s) {
    Bytes32 low = s;
    low[31] &= 0x7f;
    const Fe y = from_bytes(low);
    if (to_bytes(y) != low) return std::nullopt;  // y at or above p
    const bool sign = (s[31] >> 7) != 0;
    const Fe one = fe_small(1);
    const Fe y2 = y * y;
    const Fe u = y2 - one, v = curve().d * y2 + one;
    const Fe v3 = v * v * v;
    Fe x = u * v3 * power(u * v3 * v3 * v, kSqrtRatio);
    const Fe vx2 = v * x * x;
    if (!(vx2 == u)) {
        if (!(vx2 == negate(u))) return std::nullopt;
        x = x * curve().sqrt_minus_one;
    }
    if (x == fe_small(0) && sign) return std::nullopt;  // -0 is no encoding
    if (is_odd(x) != sign) x = negate(x);
    return Point{x, y, one, x * y};
}

Bytes32 encode(const Point& p) {
    const Fe inverse = power(p.z, kInverse);
    Bytes32 s = to_bytes(p.y * inverse);
    if (is_odd(p.x * inverse)) s[31] |= 0x80;
    return s;
}

// The torsion points are the ones that [8]P sends to the identity, where x = 0.
bool small_order(const Point& p) {
    const Point p2 = p + p, p4 = p2 + p2, p8 = p4 + p4;
    return p8.x == fe_small(0);
}

// The group order L = 2^252 + 27742317777372353535851937790883648493.
constexpr Bytes32 kOrder = {0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7,
                            0xa2, 0xde, 0xf9, 0xde, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};

// Little-endian byte strings as numbers.
bool below_order(const std::uint8_t* s) {
    for (int i = 31; i >= 0; --i) {
        if (s[i] != kOrder[i]) return s[i] < kOrder[i];
    }
    return false;
}

// The 512-bit hash modulo L, one bit at a time from the top.
Bytes32 reduce(const Sha512::Digest& h) {
    Bytes32 r{};
    for (int bit = 511; bit >= 0; --bit) {
        int carry_bit = (h[bit / 8] >> (bit % 8)) & 1;
        for (auto& byte : r) {
            const int doubled = (byte << 1) | carry_bit;
            byte = static_cast<std::uint8_t>(doubled);
            carry_bit = doubled >> 8;
        }
        if (!below_order(r.data())) {
            int borrow = 0;
            for (int i = 0; i < 32; ++i) {
                const int diff = r[i] - kOrder[i] - borrow;
                r[i] = static_cast<std::uint8_t>(diff);
                borrow = diff < 0 ? 1 : 0;
            }
        }
    }
    return r;
}

const Point& base_point() {
    static const Point b = [] {
        Bytes32 s{};
        for (auto& byte : s) byte = 0x66;
        s[0] = 0x58;
        return *decode(s);
    }();
    return b;
}

bool bit_of(const std::uint8_t* s, int bit) {
    return ((s[bit / 8] >> (bit % 8)) & 1) != 0;
}

}  // namespace

bool Ed25519Verifier::start(const Ed25519Key& key, const Ed25519Signature& signature) {
    started_ = false;
    if (!below_order(signature.data() + 32)) return false;
    Bytes32 r;
    std::memcpy(r.data(), signature.data(), 32);
    const std::optional<Point> a = decode(key), r_point = decode(r);
    if (!a || !r_point || small_order(*a) || small_order(*r_point)) return false;
    key_ = key;
    signature_ = signature;
    hash_ = Sha512();
    hash_.update(signature.data(), 32);
    hash_.update(key.data(), key.size());
    started_ = true;
    return true;
}

void Ed25519Verifier::update(const void* data, std::size_t length) {
    if (started_) hash_.update(data, length);
}

bool Ed25519Verifier::finish() {
    if (!started_) return false;
    started_ = false;
    const Bytes32 k = reduce(hash_.finish());
    const Point minus_a = negate(*decode(key_));
    const std::uint8_t* s = signature_.data() + 32;
    Point sum = identity();
    for (int bit = 255; bit >= 0; --bit) {
        sum = sum + sum;
        if (bit_of(s, bit)) sum = sum + base_point();
        if (bit_of(k.data(), bit)) sum = sum + minus_a;
    }
    return std::memcmp(encode(sum).data(), signature_.data(), 32) == 0;
}

bool ed25519_verify(const Ed25519Key& key, const Ed25519Signature& signature, const void* message,
                    std::size_t length) {
    Ed25519Verifier verifier;
    if (!verifier.start(key, signature)) return false;
    verifier.update(message, length);
    return verifier.finish();
}

}  // namespace tarncore
