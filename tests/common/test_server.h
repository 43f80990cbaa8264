// Local HTTP and HTTPS servers for the network tests: tests/server/test_server.py
// started on 127.0.0.1, port 0, with a script of behaviours. The server ends by
// itself (script used up, idle, lifetime cap), since under Wine the Linux child
// cannot be killed; stop() asks it to end and waits for that.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/json.h"
#include "tests/common/test_env.h"

namespace tarntest {

struct ServerOptions {
    /// The certificate an HTTPS server presents, as test_server.py names it:
    /// "good", "expired", "wronghost" (issued by the run's test CA, which the
    /// test process trusts) or "untrusted"; empty: plain HTTP.
    std::string cert;
    bool client_auth = false;  // the TLS server demands a client certificate
    int idle_seconds = 5;
    int lifetime_seconds = 60;
};

class TestServer {
public:
    TestServer() = default;
    ~TestServer() { stop(); }
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    /// Starts a server with the behaviours of `script` (a JSON array, see
    /// test_server.py); false, with last_error() set, when it did not come up.
    bool start(const std::string& script, ServerOptions options = {});
    /// "http://127.0.0.1:<port>", or "https://localhost:<port>" with a certificate.
    std::string base_url() const;
    std::string url(const std::string& path) const { return base_url() + path; }
    std::uint16_t port() const { return port_; }
    /// Requests received so far, oldest first: objects with method, target,
    /// headers ([[name, value], ...]) and body; handshake failures and
    /// connections without a request appear as {"event": ...}.
    std::vector<tarncore::Json> requests() const;
    /// Only the entries that are requests.
    std::vector<tarncore::Json> http_requests() const;
    /// Asks the server to end and waits until it has.
    void stop();
    const std::string& last_error() const { return error_; }

private:
    std::string dir_;  // the server's folder, as a Unix path
    std::uint16_t port_ = 0;
    bool tls_ = false;
    std::string error_;
};

/// The folder (Unix path) with the run's CA and server certificates, made once
/// per test process; the CA is trusted by this process from then on. Empty
/// when they could not be made.
const std::string& test_certificates();

/// Makes the CA (ca.pem / ca.der in `cert_dir`) trusted by this process's TLS
/// engine, and undoes it. Platform files: test_env_win32.cpp / _posix.cpp.
bool trust_test_ca(const std::string& cert_dir);
void untrust_test_ca(const std::string& cert_dir);

}  // namespace tarntest
