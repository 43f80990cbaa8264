// SHA-256 as FIPS 180-4 defines it, of a message in memory or fed as it
// arrives (the downloaded runtime), with its lower-case hex text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/http.h"

namespace tarncore {

/// The 32-byte digest: the eight state words, big-endian.
std::vector<std::uint8_t> sha256_digest(const void* data, std::size_t length);
/// 64 characters of "0123456789abcdef", high nibble first.
std::string sha256_hex(const void* data, std::size_t length);

/// Lower-case hex text of a digest, high nibble first.
std::string hex_text(const std::vector<std::uint8_t>& digest);

/// SHA-256 fed piece by piece, as a body arrives: the digest of the pieces
/// joined, without holding them.
class Sha256 {
public:
    Sha256();  // the fastest path the CPU has
    explicit Sha256(bool extensions);
    void update(const void* data, std::size_t length);
    /// The digest; the object starts over afterwards.
    std::vector<std::uint8_t> finish();
    std::string finish_hex();

private:
    std::uint32_t state_[8];
    std::uint8_t pending_[64] = {};
    std::size_t pending_size_ = 0;
    std::uint64_t length_ = 0;
    bool extensions_;
};

/// A body's SHA-256, fed from each receive.
class Sha256Sink final : public BodySink {
public:
    void restart() override { sha_ = Sha256(); }
    void take(const char* data, std::size_t length) override { sha_.update(data, length); }
    std::string hex() { return sha_.finish_hex(); }

private:
    Sha256 sha_;
};

/// The compression paths. The digest takes the SHA extensions when the CPU
/// has them; tests and the benchmark name a path to compare both.
enum class Sha256Path { Portable, Extensions };
bool sha256_path_available(Sha256Path path);
/// The digest by the named path; an unavailable path falls back to Portable.
std::vector<std::uint8_t> sha256_digest(const void* data, std::size_t length, Sha256Path path);

}  // namespace tarncore
