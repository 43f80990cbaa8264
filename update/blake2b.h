// BLAKE2b (RFC 7693), fed block by block: the hash of the runtime that a
// prehashed minisign signature covers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tarncore {

class Blake2b {
public:
    /// A digest of 1 to 64 bytes, keyed with up to 64 bytes (RFC 7693's
    /// parameters; minisign uses 64 bytes and no key).
    explicit Blake2b(std::size_t digest_length = 64, std::string_view key = {});
    void update(const void* data, std::size_t length);
    /// The digest; the object is spent afterwards.
    std::vector<std::uint8_t> finish();

private:
    void compress(bool last);

    std::uint64_t state_[8];
    std::uint64_t counter_[2] = {0, 0};
    std::uint8_t buffer_[128] = {};
    std::size_t buffered_ = 0;
    std::size_t digest_length_;
};

}  // namespace tarncore
