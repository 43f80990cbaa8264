// Targets without the x86 SHA extensions: the portable path is the only one.
#include "update/sha256_blocks.h"

namespace tarncore {

bool sha256_cpu_has_extensions() {
    return false;
}

void sha256_blocks_extensions(std::uint32_t state[8], const std::uint8_t* data,
                              std::size_t blocks) {
    sha256_blocks_portable(state, data, blocks);
}

}  // namespace tarncore
