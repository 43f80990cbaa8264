// A Transport over a byte string, for codec tests and fuzzers: hands out the
// input in chosen pieces, then ends the stream or fails, and keeps what was
// sent. Header-only so that the fuzz targets, which do not link the test
// library, can use it too.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/transport.h"

namespace tarntest {

class MemoryTransport : public tarncore::Transport {
public:
    explicit MemoryTransport(std::string input = {}) : input_(std::move(input)) {}

    /// Receive i hands out at most pieces[i] bytes, the last size repeating;
    /// 0 means as many as the caller's buffer takes.
    std::vector<std::size_t> pieces;
    /// Once the input is used up, receives fail with this instead of
    /// reporting the end of the stream.
    std::optional<tarncore::Error> end_error;
    /// When set, every send fails with this.
    std::optional<tarncore::Error> send_error;

    tarncore::Error send(const char* data, std::size_t length) override {
        ++send_calls;
        if (send_error) return *send_error;
        sent.append(data, length);
        return {};
    }

    std::int32_t recv(char* buffer, std::size_t capacity, tarncore::Error& error) override {
        error = tarncore::Error();
        capacities.push_back(capacity);
        std::size_t n = std::min(input_.size() - offset_, capacity);
        if (!pieces.empty()) {
            std::size_t limit = pieces[std::min(capacities.size(), pieces.size()) - 1];
            if (limit != 0) n = std::min(n, limit);
        }
        if (n == 0 && end_error) error = *end_error;
        if (n == 0) return end_error ? -1 : 0;
        std::memcpy(buffer, input_.data() + offset_, n);
        offset_ += n;
        return static_cast<std::int32_t>(n);
    }

    std::string sent;
    std::size_t send_calls = 0;
    /// The capacity asked for by each receive so far.
    std::vector<std::size_t> capacities;

private:
    std::string input_;
    std::size_t offset_ = 0;
};

/// The receive failure a socket reports when its time-out passes.
inline tarncore::Error recv_timeout_error() {
    return tarncore::Error(tarncore::kErrNetwork, "network", "Socket.recv", "Receive timed out");
}

}  // namespace tarntest
