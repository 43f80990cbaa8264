#include "support/clock.h"

#include <chrono>
#include <ctime>
#include <iomanip>
#include <sstream>

#include "support/system.h"

namespace tarncore {

std::string local_timestamp() {
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    if (!local_time(now, local)) return {};
    std::ostringstream out;
    out << std::put_time(&local, "%Y-%m-%d %H:%M:%S");
    return out.str();
}

std::int64_t steady_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace tarncore
