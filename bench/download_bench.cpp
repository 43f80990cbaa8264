// Download speed and memory of HttpClient against curl: one large body over
// loopback HTTP and HTTPS from the local test server, in one run.
//   download_bench [--mib N] [--runs N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bench/peak_memory.h"
#include "net/http_client.h"
#include "net/socket.h"
#include "tests/common/test_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double mib(std::uint64_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

struct ClientRun {
    double seconds = 0;
    std::uint64_t peak = 0;      // peak resident bytes during the call
    std::uint64_t baseline = 0;  // resident bytes before it
};

bool client_download(const std::string& url, std::uint64_t size, ClientRun& run) {
    tarncore::HttpRequest request;
    request.url = url;
    request.timeout_ms = 180000;
    run.baseline = tarnbench::current_memory();
    tarnbench::reset_peak_memory();
    auto start = Clock::now();
    tarncore::Error error;
    tarncore::HttpResponse response = tarncore::HttpClient::execute(request, error);
    run.seconds = seconds_since(start);
    run.peak = tarnbench::peak_memory();
    if (error.failed() || response.body.size() != size) {
        std::cerr << "HttpClient: " << error.message << " (" << response.body.size() << " bytes)\n";
        return false;
    }
    return true;
}

bool curl_download(const std::string& url, const std::string& ca, std::uint64_t size,
                   const std::string& out_file, double& seconds) {
    std::string command = "curl -s -o /dev/null -w '%{size_download}' ";
    if (!ca.empty()) command += "--cacert '" + ca + "' ";
    command += "'" + url + "' > '" + out_file + "'";
    auto start = Clock::now();
    int rc = std::system(command.c_str());
    seconds = seconds_since(start);
    std::ifstream in(out_file);
    std::uint64_t got = 0;
    in >> got;
    if (rc != 0 || got != size) {
        std::cerr << "curl: exit " << rc << ", " << got << " bytes\n";
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t size_mib = 256;
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string flag = argv[i];
        if (flag == "--mib") size_mib = std::strtoull(argv[i + 1], nullptr, 10);
        if (flag == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
    }
    const std::uint64_t size = size_mib * 1024 * 1024;
    if (tarncore::Socket::initialize().failed()) return 1;

    const std::string script =
        R"([{"path":"/big","body_size":)" + std::to_string(size) + R"(,"times":0}])";
    tarntest::ServerOptions options;
    options.idle_seconds = 120;
    options.lifetime_seconds = 1800;
    tarntest::TestServer plain, secure;
    if (!plain.start(script, options)) {
        std::cerr << plain.last_error() << "\n";
        return 1;
    }
    options.cert = tarntest::ServerCert::Good;
    if (!secure.start(script, options)) {
        std::cerr << secure.last_error() << "\n";
        return 1;
    }
    const std::string ca = tarntest::test_certificates() + "/ca.pem";
    const std::string curl_out = tarntest::test_certificates() + "/curl-size.txt";

    std::printf("GET of a %llu MiB body over loopback, best of %d runs each\n",
                static_cast<unsigned long long>(size_mib), runs);
    std::printf("%-6s %12s %12s %8s %16s %16s\n", "", "HttpClient", "curl", "ratio",
                "client peak RSS", "over baseline");
    bool ok = true;
    struct Target {
        const char* name;
        std::string url;
        std::string ca;
    };
    for (const Target& target :
         {Target{"http", plain.url("/big"), ""}, Target{"https", secure.url("/big"), ca}}) {
        double best_client = 1e9, best_curl = 1e9;
        ClientRun worst_memory;
        for (int r = 0; r < runs && ok; ++r) {
            ClientRun run;
            double curl_seconds = 0;
            ok = client_download(target.url, size, run) &&
                 curl_download(target.url, target.ca, size, curl_out, curl_seconds);
            best_client = std::min(best_client, run.seconds);
            best_curl = std::min(best_curl, curl_seconds);
            if (run.peak - run.baseline >= worst_memory.peak - worst_memory.baseline) {
                worst_memory = run;
            }
        }
        if (!ok) break;
        std::printf("%-6s %10.3f s %10.3f s %8.2f %12.1f MiB %12.1f MiB\n", target.name,
                    best_client, best_curl, best_client / best_curl, mib(worst_memory.peak),
                    mib(worst_memory.peak - worst_memory.baseline));
    }
    tarncore::Socket::cleanup();
    return ok ? 0 : 1;
}
