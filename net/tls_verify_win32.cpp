// The server certificate checked against the system's trust and the host
// name, after the handshake: Wine's Schannel accepts any certificate.
#include "net/tls_verify_win32.h"

#include <string>

#include "net/tls_engine.h"

namespace tarncore {

namespace {

using namespace tls_status;

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

}  // namespace

// The chain's own trust status first: the SSL policy call overlooks a partial
// chain and checks the name only on an otherwise clean chain (so on Wine).
// No revocation check here: the package applied its policy already.
std::int32_t check_server_chain(PCCERT_CONTEXT cert, std::string_view host) {
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

}  // namespace tarncore
