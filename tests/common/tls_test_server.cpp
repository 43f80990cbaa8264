#include "tests/common/tls_test_server.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "net/tls_session.h"

namespace tarntest {
namespace fs = std::filesystem;

TlsTestServer::~TlsTestServer() {
    stop();
    trust_.reset();
    std::error_code ec;
    if (!dir_.empty()) fs::remove_all(dir_, ec);
}

bool TlsTestServer::start(std::string& why) {
    // A folder both sides can name: the server is a Linux program, also when
    // the test runs under Wine.
    std::random_device rd;
    unix_dir_ = "/tmp/tarnwick-tls-test-" + std::to_string(rd()) + "-" +
                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    dir_ = host_path(unix_dir_);
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (ec) {
        why = "cannot create " + unix_dir_;
        return false;
    }
    const std::string script = std::string(TARN_SOURCE_DIR) + "/tests/net/tls_test_server.py";
    if (!process_.start(host_path("/usr/bin/python3"), {script, unix_dir_, "20"})) {
        why = "cannot start /usr/bin/python3";
        return false;
    }
    // Wine gives no handle for a Linux child, so readiness is the ports file.
    const Path ready = dir_ / "ports";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(ready, ec)) {
        if (std::chrono::steady_clock::now() > deadline) {
            why = "the TLS test server did not come up in " + unix_dir_;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::ifstream in(ready);
    std::string name;
    unsigned port = 0;
    while (in >> name >> port) ports_[name] = static_cast<std::uint16_t>(port);
    if (ports_.size() != 5) {
        why = "unexpected ports file in " + unix_dir_;
        return false;
    }
    trust_ = std::make_unique<TlsTestTrust>(dir_ / "ca.der", dir_ / "ca.pem");
    if (!trust_->ok()) {
        why = "cannot trust the test CA";
        return false;
    }
    return true;
}

std::uint16_t TlsTestServer::port(const std::string& name) const {
    auto it = ports_.find(name);
    return it == ports_.end() ? 0 : it->second;
}

void TlsTestServer::stop() {
    if (ports_.empty()) return;
    tarncore::TlsSession session;
    if (session.connect("localhost", port("good"), 5000, 0).ok() &&
        session.send("QUIT\n", 5).ok()) {
        char buffer[64];
        tarncore::Error error;
        while (session.recv(buffer, sizeof(buffer), error) > 0) {
        }
    }
    session.close();
    ports_.clear();
    process_.wait(10000);
}

}  // namespace tarntest
