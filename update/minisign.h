// minisign's public keys and signatures (the format of the `minisign` tool),
// and their check over a file fed block by block. Both algorithms minisign
// writes are read: "ED" signs the file's BLAKE2b-512 digest, the legacy "Ed"
// the file itself.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "update/blake2b.h"
#include "update/ed25519.h"

namespace tarncore {

using MinisignKeyId = std::array<std::uint8_t, 8>;

struct MinisignKey {
    MinisignKeyId id{};
    Ed25519Key key{};
};

struct MinisignSignature {
    bool prehashed = false;  // "ED"; false for the legacy "Ed"
    MinisignKeyId key_id{};
    Ed25519Signature signature{};
    std::string trusted_comment;  // the text after "trusted comment: "
    Ed25519Signature global{};    // over signature || trusted_comment
};

/// A public key: its base64 line alone or a whole .pub file.
std::optional<MinisignKey> parse_minisign_key(std::string_view text);
/// The four lines of a .minisig file; line ends may be CR LF.
std::optional<MinisignSignature> parse_minisign_signature(std::string_view text);
/// The key id as minisign prints it (sixteen upper-case hex digits).
std::string key_id_text(const MinisignKeyId& id);

class MinisignVerifier {
public:
    /// False unless the key id matches and the trusted comment carries the
    /// key's global signature; the file itself is checked by finish.
    bool start(const MinisignKey& key, const MinisignSignature& signature);
    void update(const void* data, std::size_t length);
    bool finish();

private:
    Ed25519Verifier ed25519_;
    Blake2b prehash_;
    bool prehashed_ = false;
};

}  // namespace tarncore
