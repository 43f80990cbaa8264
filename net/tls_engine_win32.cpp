// Schannel through SSPI behind the engine steps, plus an explicit check of the
// server's certificate chain, which Wine's Schannel does not make itself.
#include "net/tls_engine.h"

#include "support/win32.h"

#define SECURITY_WIN32
#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

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

std::wstring wide(std::string_view text) {
    if (text.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::int32_t trust_status(DWORD trust) {
    constexpr DWORD kUntrusted = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                                 CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_CYCLIC;
    if (trust & kUntrusted) return kUntrustedRoot;
    if (trust & CERT_TRUST_IS_NOT_TIME_VALID) return kCertExpired;
    return trust == CERT_TRUST_NO_ERROR ? kOk : kCertUnknown;
}

std::int32_t policy_status(DWORD error) {
    const auto result = static_cast<HRESULT>(error);
    if (result == S_OK) return kOk;
    if (result == CERT_E_CN_NO_MATCH) return kWrongPrincipal;
    if (result == CERT_E_EXPIRED) return kCertExpired;
    if (result == CERT_E_UNTRUSTEDROOT || result == CERT_E_CHAINING) return kUntrustedRoot;
    return kCertUnknown;
}

// The chain's own trust status first: the SSL policy call overlooks a partial
// chain and checks the name only on an otherwise clean chain (so on Wine).
// No revocation check here: the package applied its policy already.
std::int32_t check_chain(PCCERT_CONTEXT cert, std::string_view host) {
    LPSTR server_auth = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof(para);
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = &server_auth;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para, 0, nullptr,
                                 &chain)) {
        return kCertUnknown;
    }

    std::int32_t status = trust_status(chain->TrustStatus.dwErrorStatus);
    if (status == kOk) {
        std::wstring name = wide(host);
        HTTPSPolicyCallbackData ssl{};
        ssl.cbStruct = sizeof(ssl);
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = name.data();
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof(policy);
        policy.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS result{};
        result.cbSize = sizeof(result);
        status = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &result)
                     ? policy_status(result.dwError)
                     : kCertUnknown;
    }
    CertFreeCertificateChain(chain);
    return status;
}

class SchannelEngine final : public TlsEngine {
public:
    ~SchannelEngine() override { release(); }

    std::int32_t acquire_credentials() override {
        release();
        SCHANNEL_CRED cred{};
        cred.dwVersion = SCHANNEL_CRED_VERSION;
        cred.grbitEnabledProtocols = kEnabledProtocols;
        cred.dwFlags = kCredentialFlags;
        TimeStamp expiry{};
        const SECURITY_STATUS status = AcquireCredentialsHandleA(
            nullptr, const_cast<SEC_CHAR*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, &cred,
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

    TlsDecrypted decrypt(std::span<char> input) override {
        TlsDecrypted result;
        SecBuffer buffers[4] = {
            {static_cast<ULONG>(input.size()), SECBUFFER_DATA, input.data()},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
            {0, SECBUFFER_EMPTY, nullptr},
        };
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        result.status = DecryptMessage(&context_, &desc, 0, nullptr);
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0 && b.pvBuffer != nullptr &&
                result.status != static_cast<SECURITY_STATUS>(kIncompleteMessage)) {
                result.plaintext.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
            } else if (b.BufferType == SECBUFFER_EXTRA) {
                result.extra = b.cbBuffer;
            }
        }
        return result;
    }

    std::int32_t verify_peer(std::string_view host) override {
        PCCERT_CONTEXT cert = nullptr;
        const SECURITY_STATUS status =
            QueryContextAttributesA(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert);
        if (status != SEC_E_OK) return status;
        if (cert == nullptr) return kCertUnknown;
        const std::int32_t result = check_chain(cert, host);
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
