// Used when the build embeds no runtime: the payload has length 0.
#include "payload/runtime_payload.h"

extern "C" {
const unsigned char tarn_runtime_payload_data[1] = {0};
const std::uint64_t tarn_runtime_payload_size = 0;
}
