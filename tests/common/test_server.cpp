#include "tests/common/test_server.h"

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/layout.h"
#include "tests/common/test_data.h"
#include "tests/common/test_env.h"

namespace tarntest {
namespace fs = std::filesystem;

namespace {

const std::string kServerScript = std::string(TARN_SOURCE_DIR) + "/tests/server/test_server.py";

// A fresh folder under /tmp: the server is a Linux program also under Wine,
// so it gets Unix paths.
std::string fresh_unix_dir(const std::string& prefix) {
    std::string dir = "/tmp/" + unique_name(prefix);
    fs::create_directories(host_path(dir));
    return dir;
}

bool wait_for_file(const std::string& unix_path, std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    std::error_code ec;
    while (!fs::exists(host_path(unix_path), ec)) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

struct Certificates {
    std::string dir;

    Certificates() {
        const std::string made = fresh_unix_dir("tarn-test-ca-");
        if (run_host_program({"/usr/bin/python3", kServerScript, "certs", made}) == 0 &&
            trust_test_ca(made)) {
            dir = made;
        }
    }
    ~Certificates() {
        if (dir.empty()) return;
        untrust_test_ca(dir);
        std::error_code ec;
        fs::remove_all(host_path(dir), ec);
    }
};

}  // namespace

const std::string& test_certificates() {
    static Certificates certificates;
    return certificates.dir;
}

bool TestServer::start(const std::string& script, ServerOptions options) {
    stop();
    error_.clear();
    tls_ = !options.cert.empty();
    if (tls_ && test_certificates().empty()) {
        error_ = "the test certificates could not be made";
        return false;
    }
    dir_ = fresh_unix_dir("tarn-test-server-");
    (void)tarncore::write_file(host_path(dir_ + "/script.json"), script);
    std::vector<std::string> args = {"/usr/bin/python3", kServerScript, "serve", dir_};
    args.insert(args.end(), {"--idle", std::to_string(options.idle_seconds), "--lifetime",
                             std::to_string(options.lifetime_seconds)});
    if (tls_) args.insert(args.end(), {"--tls", test_certificates() + "/" + options.cert + ".pem"});
    if (options.client_auth) args.push_back("--client-auth");
    if (run_host_program(args, false) != 0) {
        error_ = "python3 could not be started";
        return false;
    }
    if (!wait_for_file(dir_ + "/port", std::chrono::seconds(30))) {
        error_ = "the server did not report its port";
        return false;
    }
    port_ = static_cast<std::uint16_t>(std::stoi(file_bytes(host_path(dir_ + "/port"))));
    return true;
}

std::string TestServer::base_url() const {
    return (tls_ ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(port_);
}

std::vector<tarncore::Json> TestServer::requests() const {
    std::vector<tarncore::Json> entries;
    if (dir_.empty()) return entries;
    std::istringstream lines(file_bytes(host_path(dir_ + "/requests.log")));
    std::string line;
    while (std::getline(lines, line)) {
        tarncore::Error error;
        tarncore::Json entry = tarncore::Json::parse(line, error);
        if (error.ok()) entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<tarncore::Json> TestServer::http_requests() const {
    std::vector<tarncore::Json> out;
    for (tarncore::Json& entry : requests()) {
        if (entry.find("event").kind == tarncore::JsonKind::Null) out.push_back(std::move(entry));
    }
    return out;
}

void TestServer::stop() {
    if (dir_.empty()) return;
    (void)tarncore::write_file(host_path(dir_ + "/stop"), "stop\n");
    (void)wait_for_file(dir_ + "/exited", std::chrono::seconds(10));  // else its lifetime cap
    std::error_code ec;
    fs::remove_all(host_path(dir_), ec);
    dir_.clear();
    port_ = 0;
}

}  // namespace tarntest
