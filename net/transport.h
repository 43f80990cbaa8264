// A connected byte stream: what the HTTP codec needs of a plain socket or a
// TLS session, so that one codec serves both.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/error.h"

namespace tarncore {

class Transport {
public:
    virtual ~Transport() = default;
    /// Sends every byte or fails.
    virtual Error send(const char* data, std::size_t length) = 0;
    /// Bytes read (at most capacity), 0 at end of stream, -1 on failure with
    /// error set; error is reset on every call.
    virtual std::int32_t recv(char* buffer, std::size_t capacity, Error& error) = 0;
    /// How long the next receives may wait (0: no limit); streams without a
    /// clock ignore it.
    virtual void set_receive_timeout(std::uint32_t) {}
};

}  // namespace tarncore
