// A TCP peer for network tests: listens on 127.0.0.1 at a free port and plays
// a script on every connection it accepts, on its own thread. It stops by
// itself at scope exit, cutting a stall or a read short.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarntest {

class LoopbackListener {
public:
    struct Step {
        enum class Kind { Send, Stall, ReadToEnd };
        Kind kind;
        std::string bytes;
        std::chrono::milliseconds duration{0};

        static Step send(std::string bytes) { return {Kind::Send, std::move(bytes), {}}; }
        /// Holds the connection open without a word for this long.
        static Step stall(std::chrono::milliseconds duration) { return {Kind::Stall, {}, duration}; }
        /// Reads until the client closes its side; the bytes go to received().
        static Step read_to_end() { return {Kind::ReadToEnd, {}, {}}; }
    };

    /// After the last step the connection is closed.
    explicit LoopbackListener(std::vector<Step> script);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    /// 0 when the listener could not be set up.
    std::uint16_t port() const { return port_; }

    /// Waits until this many connections have played their script to the end;
    /// false when the limit passed first.
    bool wait_served(int connections, std::chrono::milliseconds limit);
    /// Bytes read by read_to_end steps so far, all connections in order.
    std::string received();
    /// Whether a read_to_end step saw the client close (rather than fail or stop).
    bool saw_client_close();

private:
    void serve();
    void play(std::uintptr_t connection);
    bool stopping();

    std::vector<Step> script_;
    std::uintptr_t listener_;
    std::uint16_t port_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stop_ = false;
    int served_ = 0;
    bool saw_close_ = false;
    std::string received_;
    std::thread thread_;
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
/// Waits up to timeout_ms for the handle to be readable (or acceptable).
bool wait_readable(std::uintptr_t handle, int timeout_ms);
std::uintptr_t accept(std::uintptr_t listener);
bool send_all(std::uintptr_t handle, const std::string& bytes);
/// Bytes read, 0 at end of stream, -1 on failure.
long recv_some(std::uintptr_t handle, char* buffer, std::size_t capacity);
void close(std::uintptr_t handle);
}  // namespace loopback

}  // namespace tarntest
