// SHA-512 (FIPS 180-4), fed block by block: the hash inside Ed25519 and of
// legacy minisign signatures, which cover the whole runtime as it arrives.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarncore {

class Sha512 {
public:
    using Digest = std::array<std::uint8_t, 64>;

    Sha512();
    void update(const void* data, std::size_t length);
    /// The digest; the object is spent afterwards.
    Digest finish();

    static Digest of(const void* data, std::size_t length);

private:
    void compress(const std::uint8_t* block);

    std::uint64_t state_[8];
    std::uint8_t buffer_[128];
    std::size_t buffered_ = 0;
    std::uint64_t total_ = 0;
};

}  // namespace tarncore
