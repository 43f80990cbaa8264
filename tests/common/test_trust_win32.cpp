#include <fstream>
#include <iterator>
#include <vector>

#include "support/win32.h"
#include "tests/common/test_env.h"
#include "tests/common/test_server.h"

#include <wincrypt.h>

namespace tarntest {

namespace {

std::vector<char> read_der(const std::string& cert_dir) {
    std::ifstream in(host_path(cert_dir + "/ca.der"), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

// The user Root store of the private prefix: Wine adds to it without a dialog.
bool trust_test_ca(const std::string& cert_dir) {
    std::vector<char> der = read_der(cert_dir);
    return !der.empty() &&
           CertAddEncodedCertificateToSystemStoreA(
               "ROOT", reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
}

// Each run makes a new CA; take it out again so the prefix does not collect them.
// Wine's "ROOT" system store is a merged view that refuses deletion, so go to
// the registry store underneath.
void untrust_test_ca(const std::string& cert_dir) {
    std::vector<char> der = read_der(cert_dir);
    PCCERT_CONTEXT ca =
        CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                     static_cast<DWORD>(der.size()));
    if (!ca) return;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
    if (store) {
        PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                          CERT_FIND_EXISTING, ca, nullptr);
        if (found) CertDeleteCertificateFromStore(found);  // frees `found`
        CertCloseStore(store, 0);
    }
    CertFreeCertificateContext(ca);
}

}  // namespace tarntest
