// Json::parse on arbitrary bytes. What dump writes must parse again, and after
// one round the text is stable (the first round may change forms: -0e1 is
// written -0, which reads back as the integer 0).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "support/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tarncore::Error error;
    tarncore::Json value =
        tarncore::Json::parse(std::string_view(reinterpret_cast<const char*>(data), size), error);
    if (error.failed()) return 0;
    for (bool pretty : {false, true}) {
        tarncore::Error again;
        std::string once = tarncore::Json::parse(value.dump(pretty), again).dump(pretty);
        if (again.failed()) std::abort();
        std::string twice = tarncore::Json::parse(once, again).dump(pretty);
        if (again.failed() || twice != once) std::abort();
    }
    return 0;
}
