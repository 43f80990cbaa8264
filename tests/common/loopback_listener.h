// A TCP peer for socket tests on 127.0.0.1 at a free port, driven step by step: a client's connect
// completes from the listen backlog, so a test connects first and accepts after. Calls block; a
// peer that must read while the test sends runs on a thread of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarntest {

class LoopbackListener {
public:
    LoopbackListener();
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    /// 0 when the listener could not be set up.
    std::uint16_t port() const { return port_; }
    bool accept();
    bool send(const std::string& bytes);
    /// Reads until the client closes; nullopt when a read fails or waits 10 s.
    std::optional<std::string> read_to_end();
    void hang_up();

private:
    std::uintptr_t listener_;
    std::uintptr_t connection_;
    std::uint16_t port_ = 0;
};

/// A loopback port that nobody listens on, so a connect there is refused.
std::uint16_t unused_loopback_port();

// The socket calls of the listener: loopback_listener_win32.cpp / _posix.cpp.
namespace loopback {
inline constexpr std::uintptr_t kInvalid = ~std::uintptr_t{0};
void startup();
void shutdown();
/// Listens on 127.0.0.1 port 0 (or only binds when listen is false).
std::uintptr_t open(bool listen, std::uint16_t& port);
std::uintptr_t accept(std::uintptr_t listener);
bool send_all(std::uintptr_t handle, const std::string& bytes);
/// Bytes read, 0 at end of stream, -1 on failure.
long recv_some(std::uintptr_t handle, char* buffer, std::size_t capacity);
void close(std::uintptr_t handle);
}  // namespace loopback

}  // namespace tarntest
