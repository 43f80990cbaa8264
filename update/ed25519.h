// Ed25519 signature verification (RFC 8032), strict and cofactorless: S must
// be below the group order, the key and R canonical encodings of points that
// are not of small order, and R must equal [S]B - [k]A exactly. The message
// is fed block by block, so a download is checked as it arrives.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "update/sha512.h"

namespace tarncore {

using Ed25519Key = std::array<std::uint8_t, 32>;
using Ed25519Signature = std::array<std::uint8_t, 64>;

class Ed25519Verifier {
public:
    /// False when the key or the signature is refused before any message byte.
    bool start(const Ed25519Key& key, const Ed25519Signature& signature);
    void update(const void* data, std::size_t length);
    /// Whether the message fed since start carries the signature.
    bool finish();

private:
    Sha512 hash_;
    Ed25519Key key_{};
    Ed25519Signature signature_{};
    bool started_ = false;
};

/// The whole check over a message held in memory.
bool ed25519_verify(const Ed25519Key& key, const Ed25519Signature& signature, const void* message,
                    std::size_t length);

}  // namespace tarncore
