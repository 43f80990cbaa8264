#include "tests/common/loopback_listener.h"

namespace tarntest {

LoopbackListener::LoopbackListener() : connection_(loopback::kInvalid) {
    loopback::startup();
    listener_ = loopback::open(true, port_);
}

LoopbackListener::~LoopbackListener() {
    hang_up();
    if (listener_ != loopback::kInvalid) loopback::close(listener_);
    loopback::shutdown();
}

bool LoopbackListener::accept() {
    hang_up();
    connection_ = loopback::accept(listener_);
    return connection_ != loopback::kInvalid;
}

bool LoopbackListener::send(const std::string& bytes) {
    return loopback::send_all(connection_, bytes);
}

std::optional<std::string> LoopbackListener::read_to_end() {
    std::string bytes;
    char buffer[16384];
    for (long n; (n = loopback::recv_some(connection_, buffer, sizeof buffer)) != 0;) {
        if (n < 0) return std::nullopt;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

void LoopbackListener::hang_up() {
    if (connection_ != loopback::kInvalid) loopback::close(connection_);
    connection_ = loopback::kInvalid;
}

std::uint16_t unused_loopback_port() {
    loopback::startup();
    std::uint16_t port = 0;
    std::uintptr_t handle = loopback::open(false, port);
    if (handle != loopback::kInvalid) loopback::close(handle);
    loopback::shutdown();
    return port;
}

}  // namespace tarntest
