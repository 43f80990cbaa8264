// A throw-away TLS server for tests (tests/net/tls_test_server.py): a CA made
// for the run, one loopback port per certificate (good, expired, wrong_host,
// untrusted, client_auth), and the platform's trust in that CA while the object lives.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "tests/common/child_process.h"
#include "tests/common/test_env.h"

namespace tarntest {

/// Makes this process trust a CA: the user Root store on Windows (removed
/// again at the end), SSL_CERT_FILE for OpenSSL elsewhere.
class TlsTestTrust {
public:
    TlsTestTrust(const Path& ca_der, const Path& ca_pem);
    ~TlsTestTrust();
    TlsTestTrust(const TlsTestTrust&) = delete;
    TlsTestTrust& operator=(const TlsTestTrust&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
    std::string der_;
    std::unique_ptr<ScopedEnv> env_;
};

class TlsTestServer {
public:
    TlsTestServer() = default;
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    /// Makes the certificates, starts serving and trusts the CA; false with
    /// why set when it did not come up.
    bool start(std::string& why);
    /// Port of a certificate's listener, 0 when unknown.
    std::uint16_t port(const std::string& name) const;
    /// Asks the server to end (over TLS, as it cannot always be killed) and
    /// waits for it.
    void stop();

private:
    std::string unix_dir_;  // the server's folder as the build machine names it
    Path dir_;              // the same folder for this process
    ChildProcess process_;
    std::map<std::string, std::uint16_t> ports_;
    std::unique_ptr<TlsTestTrust> trust_;
};

}  // namespace tarntest
