// A Transport over a byte string, for codec tests and fuzzers: hands out the input in a chosen
// split, then ends the stream or fails, and keeps what was sent. Header-only so that the fuzz
// targets, which do not link the test library, can use it too.
#pragma once

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "net/socket.h"
#include "net/transport.h"

namespace tarntest {

class MemoryTransport : public tarncore::Transport {
public:
    explicit MemoryTransport(std::string input = {}) : input_(std::move(input)) {}

    /// At most size bytes per receive; 0: as many as the caller's buffer takes.
    void split_every(std::size_t size) { every_ = size; }
    /// Receive i returns at most lengths[i] bytes (zeros are skipped); after
    /// the list, split_every applies.
    void split_at(std::vector<std::size_t> lengths) {
        std::erase(lengths, 0u);
        pieces_ = std::move(lengths);
    }
    /// Once the input is used up, receives set this error and return result:
    /// -1 a failure, 0 an end of stream that still carries the error (as a TLS
    /// session reports a peer gone without close notification).
    void end_with(tarncore::Error error, std::int32_t result = -1) {
        end_error_ = std::move(error);
        end_result_ = result;
    }
    /// Every send fails with this error.
    void fail_sends(tarncore::Error error) { send_error_ = std::move(error); }

    tarncore::Error send(const char* data, std::size_t length) override {
        ++send_calls_;
        if (send_error_) return *send_error_;
        sent_.append(data, length);
        return {};
    }

    std::int32_t recv(char* buffer, std::size_t capacity, tarncore::Error& error) override {
        // Only a failure needs clearing: the fuzzers read a byte per call.
        if (error.failed()) error = tarncore::Error();
        std::size_t n = std::min(input_.size() - offset_, capacity);
        if (n == 0 && end_error_) error = *end_error_;
        if (n == 0) return end_error_ ? end_result_ : 0;
        if (!pieces_.empty()) {
            n = std::min(n, pieces_.front());
            pieces_.front() -= n;
            if (pieces_.front() == 0) pieces_.erase(pieces_.begin());
        } else if (every_ != 0) {
            n = std::min(n, every_);
        }
        std::memcpy(buffer, input_.data() + offset_, n);
        offset_ += n;
        return static_cast<std::int32_t>(n);
    }

    const std::string& sent() const { return sent_; }
    std::size_t send_calls() const { return send_calls_; }

private:
    std::string input_;
    std::size_t offset_ = 0;
    std::size_t every_ = 0;
    std::vector<std::size_t> pieces_;
    std::optional<tarncore::Error> end_error_;
    std::int32_t end_result_ = -1;
    std::optional<tarncore::Error> send_error_;
    std::string sent_;
    std::size_t send_calls_ = 0;
};

/// What a TLS session leaves in error when the peer left without close notification.
inline tarncore::Error tls_closed_error() {
    tarncore::Error error(tarncore::kErrNetwork, "network", "TlsSession.recv",
                          "TLS peer closed the connection");
    error.kind = tarncore::ErrorKind::kClosed;
    return error;
}

}  // namespace tarntest
