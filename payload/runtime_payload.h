// The runtime executable built into the setup; its size is 0 when the build
// embedded none (TARN_EMBEDDED_RUNTIME empty).
#pragma once

#include <cstdint>
#include <string_view>

extern "C" {
extern const unsigned char tarn_runtime_payload_data[];
extern const std::uint64_t tarn_runtime_payload_size;
}

namespace tarncore {

inline std::string_view embedded_runtime_payload() {
    return {reinterpret_cast<const char*>(tarn_runtime_payload_data),
            static_cast<std::size_t>(tarn_runtime_payload_size)};
}

}  // namespace tarncore
