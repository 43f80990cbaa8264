#include "tests/common/test_server.h"

#include <cstdlib>

namespace tarntest {

// The OpenSSL engine takes the default verify paths, which SSL_CERT_FILE
// points at; nothing else of the process uses them.
bool trust_test_ca(const std::string& cert_dir) {
    return setenv("SSL_CERT_FILE", (cert_dir + "/ca.pem").c_str(), 1) == 0;
}

void untrust_test_ca(const std::string&) {
    unsetenv("SSL_CERT_FILE");
}

}  // namespace tarntest
