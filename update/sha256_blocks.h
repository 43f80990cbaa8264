// The compression functions behind sha256_digest: each consumes whole 64-byte
// blocks into the state, which lives in registers across the blocks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarncore {

void sha256_blocks_portable(std::uint32_t state[8], const std::uint8_t* data, std::size_t blocks);

/// The x86 SHA extensions: true only when this build has the path (an x86-64
/// target) and the CPU reports SHA, SSSE3 and SSE4.1. Files under arch/.
bool sha256_cpu_has_extensions();
void sha256_blocks_extensions(std::uint32_t state[8], const std::uint8_t* data, std::size_t blocks);

}  // namespace tarncore
