#include "tests/common/loopback_listener.h"

namespace tarntest {

namespace {
// The listener and a read look at the stop flag this often.
constexpr int kPollMs = 20;
}  // namespace

LoopbackListener::LoopbackListener(std::vector<Step> script) : script_(std::move(script)) {
    loopback::startup();
    listener_ = loopback::open(true, port_);
    if (listener_ == loopback::kInvalid) {
        port_ = 0;
        return;
    }
    thread_ = std::thread([this] { serve(); });
}

LoopbackListener::~LoopbackListener() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (listener_ != loopback::kInvalid) loopback::close(listener_);
    loopback::shutdown();
}

bool LoopbackListener::stopping() {
    std::lock_guard<std::mutex> hold(mutex_);
    return stop_;
}

bool LoopbackListener::wait_served(int connections, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> hold(mutex_);
    return changed_.wait_for(hold, limit, [&] { return served_ >= connections; });
}

std::string LoopbackListener::received() {
    std::lock_guard<std::mutex> hold(mutex_);
    return received_;
}

bool LoopbackListener::saw_client_close() {
    std::lock_guard<std::mutex> hold(mutex_);
    return saw_close_;
}

void LoopbackListener::serve() {
    while (!stopping()) {
        if (!loopback::wait_readable(listener_, kPollMs)) continue;
        std::uintptr_t connection = loopback::accept(listener_);
        if (connection == loopback::kInvalid) continue;
        play(connection);
        loopback::close(connection);
        {
            std::lock_guard<std::mutex> hold(mutex_);
            ++served_;
        }
        changed_.notify_all();
    }
}

void LoopbackListener::play(std::uintptr_t connection) {
    for (const Step& step : script_) {
        switch (step.kind) {
            case Step::Kind::Send:
                if (!loopback::send_all(connection, step.bytes)) return;
                break;
            case Step::Kind::Stall: {
                std::unique_lock<std::mutex> hold(mutex_);
                if (changed_.wait_for(hold, step.duration, [&] { return stop_; })) return;
                break;
            }
            case Step::Kind::ReadToEnd: {
                char buffer[16384];
                for (;;) {
                    if (stopping()) return;
                    if (!loopback::wait_readable(connection, kPollMs)) continue;
                    long n = loopback::recv_some(connection, buffer, sizeof buffer);
                    if (n < 0) return;
                    std::lock_guard<std::mutex> hold(mutex_);
                    if (n == 0) {
                        saw_close_ = true;
                        break;
                    }
                    received_.append(buffer, static_cast<std::size_t>(n));
                }
                break;
            }
        }
    }
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
