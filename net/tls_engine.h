// The steps a TLS session needs of the platform's security package: Schannel
// through SSPI (tls_engine_win32.cpp) or OpenSSL over memory buffers
// (tls_engine_posix.cpp). The session logic in tls_session.cpp drives either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace tarncore {

/// Package status codes (SSPI values), as the session and its messages use them.
namespace tls_status {
constexpr std::int32_t kOk = 0;
constexpr std::int32_t kContinueNeeded = 0x00090312;
constexpr std::int32_t kContextExpired = 0x00090317;
constexpr std::int32_t kIncompleteCredentials = 0x00090320;
constexpr std::int32_t kRenegotiate = 0x00090321;
constexpr std::int32_t kInternalError = static_cast<std::int32_t>(0x80090304u);
constexpr std::int32_t kInvalidToken = static_cast<std::int32_t>(0x80090308u);
constexpr std::int32_t kIncompleteMessage = static_cast<std::int32_t>(0x80090318u);
constexpr std::int32_t kBufferTooSmall = static_cast<std::int32_t>(0x80090321u);
constexpr std::int32_t kWrongPrincipal = static_cast<std::int32_t>(0x80090322u);
constexpr std::int32_t kUntrustedRoot = static_cast<std::int32_t>(0x80090325u);
constexpr std::int32_t kIllegalMessage = static_cast<std::int32_t>(0x80090326u);
constexpr std::int32_t kCertUnknown = static_cast<std::int32_t>(0x80090327u);
constexpr std::int32_t kCertExpired = static_cast<std::int32_t>(0x80090328u);
constexpr std::int32_t kAlgorithmMismatch = static_cast<std::int32_t>(0x80090331u);

/// The names messages give the codes; any other is "Schannel status <n>".
struct Name {
    std::int32_t status;
    const char* text;
};
inline constexpr Name kNames[] = {
    {kOk, "SEC_E_OK"},
    {kContinueNeeded, "SEC_I_CONTINUE_NEEDED"},
    {kIncompleteCredentials, "SEC_I_INCOMPLETE_CREDENTIALS"},
    {kAlgorithmMismatch, "SEC_E_ALGORITHM_MISMATCH"},
    {kCertExpired, "SEC_E_CERT_EXPIRED"},
    {kInvalidToken, "SEC_E_INVALID_TOKEN"},
    {kIncompleteMessage, "SEC_E_INCOMPLETE_MESSAGE"},
    {kWrongPrincipal, "SEC_E_WRONG_PRINCIPAL"},
    {kUntrustedRoot, "SEC_E_UNTRUSTED_ROOT"},
    {kIllegalMessage, "SEC_E_ILLEGAL_MESSAGE"},
};
}  // namespace tls_status

struct TlsStreamSizes {
    std::uint32_t header = 0;
    std::uint32_t trailer = 0;
    std::uint32_t max_message = 0;
    std::uint32_t buffers = 0;
    std::uint32_t block_size = 0;
};

struct TlsHandshakeStep {
    std::int32_t status = tls_status::kOk;
    std::string token;      // bytes for the peer, sent whatever the status
    std::size_t extra = 0;  // trailing bytes of the input that were not consumed
};

/// Byte counts of one encrypted record, laid out from the start of the buffer.
struct TlsRecordSizes {
    std::size_t header = 0;
    std::size_t data = 0;
    std::size_t trailer = 0;
};

struct TlsDecrypted {
    std::int32_t status = tls_status::kOk;
    std::size_t written = 0;  // plaintext bytes put into the output
    std::size_t extra = 0;    // trailing bytes of the input that were not consumed
};

/// Which credential record the package is given. kCurrent is the one that
/// can enable TLS 1.3 but older systems do not know; kLegacy is the older
/// record, tried when the current one is refused. An engine with a single
/// kind of credentials treats both alike.
enum class TlsCredentials { kCurrent, kLegacy };

class TlsEngine {
public:
    virtual ~TlsEngine() = default;

    /// Outbound client credentials for the handshakes that follow.
    virtual std::int32_t acquire_credentials(TlsCredentials record) = 0;
    /// One round: the first call (no context yet) gets empty input; later ones
    /// get every byte received since. host names the server (SNI, certificate).
    /// After the handshake the same step takes what decrypt left unread when
    /// it answered kRenegotiate (post-handshake messages: session tickets, key
    /// updates, a renegotiation), until it answers kOk again.
    virtual TlsHandshakeStep handshake_step(std::span<const char> input, std::string_view host) = 0;
    virtual std::int32_t stream_sizes(TlsStreamSizes& sizes) = 0;
    /// Encrypts in place: buffer holds header space, data_length bytes of
    /// plaintext and trailer space, as stream_sizes reported them.
    virtual std::int32_t encrypt(std::span<char> buffer, std::size_t data_length,
                                 TlsRecordSizes& out) = 0;
    /// Decrypts records from the front of input (which it may overwrite, and
    /// which may be empty when the engine still holds bytes given earlier)
    /// straight into output, which has room for at least one record's
    /// plaintext (the maximum message). kIncompleteMessage: nothing written,
    /// more bytes are needed; extra still tells what the engine left unread.
    virtual TlsDecrypted decrypt(std::span<char> input, std::span<char> output) = 0;
    /// Checks the server certificate of the finished handshake against the
    /// system's trust and host; the package's own check is not relied on.
    virtual std::int32_t verify_peer(std::string_view host) = 0;
    /// Drops the context and the credentials, whichever are held.
    virtual void release() = 0;
};

/// The platform's engine: Schannel on Windows, OpenSSL elsewhere.
std::unique_ptr<TlsEngine> make_platform_tls_engine();

}  // namespace tarncore
