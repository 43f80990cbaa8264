#include <filesystem>

#include "tests/common/tls_test_server.h"

namespace tarntest {

// OpenSSL's default verify paths read SSL_CERT_FILE when a context is made.
TlsTestTrust::TlsTestTrust(const Path&, const Path& ca_pem) {
    std::error_code ec;
    ok_ = std::filesystem::exists(ca_pem, ec);
    if (ok_) env_ = std::make_unique<ScopedEnv>("SSL_CERT_FILE", ca_pem.native());
}

TlsTestTrust::~TlsTestTrust() = default;

}  // namespace tarntest
