#include <fstream>
#include <iterator>

#include "support/win32.h"
#include "tests/common/tls_test_server.h"

#include <wincrypt.h>

namespace tarntest {

// The user Root store: under Wine adding to it asks no question, and the chain
// check then trusts certificates issued by the test CA.
TlsTestTrust::TlsTestTrust(const Path& ca_der, const Path&) {
    std::ifstream in(ca_der, std::ios::binary);
    der_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    ok_ = !der_.empty() &&
          CertAddEncodedCertificateToSystemStoreA(
              "ROOT", reinterpret_cast<const BYTE*>(der_.data()), static_cast<DWORD>(der_.size()));
}

TlsTestTrust::~TlsTestTrust() {
    if (!ok_) return;
    // Take the run's CA out again so the shared test prefix does not collect
    // them; Wine's "ROOT" system store is a merged view that refuses deletion,
    // so go to the registry store underneath.
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
    PCCERT_CONTEXT cert =
        CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()),
                                     static_cast<DWORD>(der_.size()));
    if (store != nullptr && cert != nullptr) {
        PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                          CERT_FIND_EXISTING, cert, nullptr);
        if (found != nullptr) CertDeleteCertificateFromStore(found);
    }
    if (cert != nullptr) CertFreeCertificateContext(cert);
    if (store != nullptr) CertCloseStore(store, 0);
}

}  // namespace tarntest
