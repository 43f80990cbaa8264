// SHA-256 of a whole message held in memory (the downloaded runtime), as
// FIPS 180-4 defines it, with its lower-case hex text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarncore {

/// The 32-byte digest: the eight state words, big-endian.
std::vector<std::uint8_t> sha256_digest(const void* data, std::size_t length);
/// 64 characters of "0123456789abcdef", high nibble first.
std::string sha256_hex(const void* data, std::size_t length);

/// The compression paths. The digest takes the SHA extensions when the CPU
/// has them; tests and the benchmark name a path to compare both.
enum class Sha256Path { Portable, Extensions };
bool sha256_path_available(Sha256Path path);
/// The digest by the named path; an unavailable path falls back to Portable.
std::vector<std::uint8_t> sha256_digest(const void* data, std::size_t length, Sha256Path path);

}  // namespace tarncore
