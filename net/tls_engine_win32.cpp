// Schannel through SSPI behind the engine steps; the server's certificate is
// checked once more by tls_verify_win32.cpp, since Wine's Schannel does not.
#include "net/tls_engine.h"

#include "net/tls_verify_win32.h"

#define SECURITY_WIN32
// The newer credential record (SCH_CREDENTIALS, TLS_PARAMETERS) sits behind
// this switch in the headers.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>

#include <schannel.h>
#include <security.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

namespace tarncore {

namespace {

using namespace tls_status;

constexpr DWORD kEnabledProtocols = 0x2800;  // SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT
// SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_AUTO_CRED_VALIDATION
// | SCH_CRED_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT
constexpr DWORD kCredentialFlags = 0x430;
// ISC_REQ_REPLAY_DETECT | ISC_REQ_SEQUENCE_DETECT | ISC_REQ_CONFIDENTIALITY
// | ISC_REQ_USE_SUPPLIED_CREDS | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM
constexpr ULONG kRequestFlags = 0x819C;

// The package reads these records by the Windows SDK's layout; MinGW's
// headers must agree with it on the 64-bit target.
static_assert(sizeof(TLS_PARAMETERS) == 40);
static_assert(offsetof(TLS_PARAMETERS, grbitDisabledProtocols) == 16);
static_assert(offsetof(TLS_PARAMETERS, dwFlags) == 32);
static_assert(sizeof(SCH_CREDENTIALS) == 72);
static_assert(offsetof(SCH_CREDENTIALS, paCred) == 16);
static_assert(offsetof(SCH_CREDENTIALS, dwSessionLifespan) == 48);
static_assert(offsetof(SCH_CREDENTIALS, dwFlags) == 52);
static_assert(offsetof(SCH_CREDENTIALS, pTlsParameters) == 64);
static_assert(sizeof(SCHANNEL_CRED) == 80);

class SchannelEngine final : public TlsEngine {
public:
    ~SchannelEngine() override { release(); }

    std::int32_t acquire_credentials(TlsCredentials record) override {
        release();
        // The newer record names the protocols to leave out rather than those
        // to use: everything but the two enabled ones.
        TLS_PARAMETERS parameters{};
        parameters.grbitDisabledProtocols = ~kEnabledProtocols;
        SCH_CREDENTIALS current{};
        current.dwVersion = SCH_CREDENTIALS_VERSION;
        current.dwFlags = kCredentialFlags;
        current.cTlsParameters = 1;
        current.pTlsParameters = &parameters;
        SCHANNEL_CRED legacy{};
        legacy.dwVersion = SCHANNEL_CRED_VERSION;
        legacy.grbitEnabledProtocols = kEnabledProtocols;
        legacy.dwFlags = kCredentialFlags;
        void* data = record == TlsCredentials::kCurrent ? static_cast<void*>(&current)
                                                        : static_cast<void*>(&legacy);
        TimeStamp expiry{};
        const SECURITY_STATUS status = AcquireCredentialsHandleA(
            nullptr, const_cast<SEC_CHAR*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, data,
            nullptr, nullptr, &credentials_, &expiry);
        if (status != SEC_E_OK) return status;
        has_credentials_ = true;
        return kOk;
    }

    TlsHandshakeStep handshake_step(std::span<const char> input, std::string_view host) override {
        TlsHandshakeStep step;
        SecBuffer out_buffer{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc out_desc{SECBUFFER_VERSION, 1, &out_buffer};
        // The package reads the token and points the second buffer at leftovers.
        std::string in_bytes(input.data(), input.size());
        SecBuffer in_buffers[2] = {
            {static_cast<ULONG>(in_bytes.size()), SECBUFFER_TOKEN, in_bytes.data()},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc in_desc{SECBUFFER_VERSION, 2, in_buffers};
        std::string target(host);
        ULONG attributes = 0;
        TimeStamp expiry{};
        const SECURITY_STATUS status = InitializeSecurityContextA(
            &credentials_, has_context_ ? &context_ : nullptr, target.data(), kRequestFlags, 0, 0,
            has_context_ ? &in_desc : nullptr, 0, &context_, &out_desc, &attributes, &expiry);
        if (!has_context_ && status >= 0) has_context_ = true;

        if (out_buffer.pvBuffer != nullptr) {
            step.token.assign(static_cast<const char*>(out_buffer.pvBuffer), out_buffer.cbBuffer);
            FreeContextBuffer(out_buffer.pvBuffer);
        }
        if (in_buffers[1].BufferType == SECBUFFER_EXTRA) step.extra = in_buffers[1].cbBuffer;
        step.status = status;
        return step;
    }

    std::int32_t stream_sizes(TlsStreamSizes& sizes) override {
        SecPkgContext_StreamSizes s{};
        const SECURITY_STATUS status =
            QueryContextAttributesA(&context_, SECPKG_ATTR_STREAM_SIZES, &s);
        if (status != SEC_E_OK) return status;
        sizes =
            TlsStreamSizes{s.cbHeader, s.cbTrailer, s.cbMaximumMessage, s.cBuffers, s.cbBlockSize};
        return kOk;
    }

    std::int32_t encrypt(std::span<char> buffer, std::size_t data_length,
                         TlsRecordSizes& out) override {
        const std::size_t header = header_size();
        if (header + data_length > buffer.size()) return kBufferTooSmall;
        char* base = buffer.data();
        SecBuffer buffers[4] = {
            {static_cast<ULONG>(header), SECBUFFER_STREAM_HEADER, base},
            {static_cast<ULONG>(data_length), SECBUFFER_DATA, base + header},
            {static_cast<ULONG>(buffer.size() - header - data_length), SECBUFFER_STREAM_TRAILER,
             base + header + data_length},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = EncryptMessage(&context_, 0, &desc, 0);
        if (status != SEC_E_OK) return status;
        out = TlsRecordSizes{buffers[0].cbBuffer, buffers[1].cbBuffer, buffers[2].cbBuffer};
        return kOk;
    }

    // One record per call, decrypted in place; its plaintext is copied once,
    // into output.
    TlsDecrypted decrypt(std::span<char> input, std::span<char> output) override {
        TlsDecrypted result;
        result.extra = input.size();
        if (input.empty()) {
            result.status = kIncompleteMessage;
            return result;
        }
        constexpr char kAlertRecord = 21;
        const bool alert = input[0] == kAlertRecord;
        SecBuffer buffers[4] = {
            {static_cast<ULONG>(input.size()), SECBUFFER_DATA, input.data()},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        result.status = DecryptMessage(&context_, &desc, 0, nullptr);
        if (result.status == kIncompleteMessage) return result;
        result.extra = 0;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0 && b.pvBuffer != nullptr) {
                result.written = std::min<std::size_t>(b.cbBuffer, output.size());
                std::memcpy(output.data(), b.pvBuffer, result.written);
            } else if (b.BufferType == SECBUFFER_EXTRA) {
                result.extra = b.cbBuffer;
            }
        }
        // Wine's package reports the peer's close notification as an alert
        // record that decrypts to nothing, not as an expired context.
        if (result.status == SEC_E_OK && alert && result.written == 0) {
            result.status = kContextExpired;
        }
        return result;
    }

    std::int32_t verify_peer(std::string_view host) override {
        PCCERT_CONTEXT cert = nullptr;
        const SECURITY_STATUS status =
            QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert);
        if (status != SEC_E_OK) return status;
        if (cert == nullptr) return kCertUnknown;
        const std::int32_t result = check_server_chain(cert, host);
        CertFreeCertificateContext(cert);
        return result;
    }

    void release() override {
        if (has_context_) DeleteSecurityContext(&context_);
        if (has_credentials_) FreeCredentialsHandle(&credentials_);
        has_context_ = false;
        has_credentials_ = false;
        context_ = CtxtHandle{};
        credentials_ = CredHandle{};
        header_ = 0;
    }

private:
    // The header size the session laid out: asked once per context.
    std::size_t header_size() {
        if (header_ == 0) {
            TlsStreamSizes sizes;
            if (stream_sizes(sizes) == kOk) header_ = sizes.header;
        }
        return header_;
    }

    CredHandle credentials_{};
    CtxtHandle context_{};
    bool has_credentials_ = false;
    bool has_context_ = false;
    std::size_t header_ = 0;
};

}  // namespace

std::unique_ptr<TlsEngine> make_platform_tls_engine() {
    return std::make_unique<SchannelEngine>();
}

}  // namespace tarncore
