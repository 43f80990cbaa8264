// Download speed and memory of HttpClient against curl: one large body over
// loopback HTTP and HTTPS from the local test server, the two clients taking
// turns for several rounds; medians and the client's peak memory. curl runs
// twice: discarding the body (-o /dev/null, the usual figure) and keeping it
// in memory (a file on /dev/shm), as HttpClient must; both include curl's start.
//   download_bench [--mib N] [--rounds N] [--no-curl]
//   download_bench --limit-cases   (64 MiB limit against 400 MiB bodies)
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

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct ClientRun {
    double seconds = 0;
    std::uint64_t peak = 0;      // peak resident bytes during the call
    std::uint64_t baseline = 0;  // resident bytes before it
    std::uint64_t body = 0;
    tarncore::Error error;
};

ClientRun client_download(const std::string& url, std::int64_t limit) {
    tarncore::HttpRequest request;
    request.url = url;
    request.timeout_ms = 180000;
    request.max_body_bytes = limit;
    ClientRun run;
    run.baseline = tarnbench::current_memory();
    tarnbench::reset_peak_memory();
    auto start = Clock::now();
    tarncore::HttpResponse response = tarncore::HttpClient::execute(request, run.error);
    run.seconds = seconds_since(start);
    run.peak = tarnbench::peak_memory();
    run.body = response.body.size();
    return run;
}

bool curl_download(const std::string& url, const std::string& ca, std::uint64_t size,
                   const std::string& body_file, const std::string& out_file, double& seconds) {
    std::string command = "curl -s -o '" + body_file + "' -w '%{size_download}' ";
    if (!ca.empty()) command += "--cacert '" + ca + "' ";
    command += "'" + url + "' > '" + out_file + "'";
    auto start = Clock::now();
    int rc = std::system(command.c_str());
    seconds = seconds_since(start);
    std::ifstream in(out_file);
    std::uint64_t got = 0;
    in >> got;
    if (body_file != "/dev/null") std::remove(body_file.c_str());
    if (rc != 0 || got != size) {
        std::cerr << "curl: exit " << rc << ", " << got << " bytes\n";
        return false;
    }
    return true;
}

tarntest::ServerOptions long_lived(tarntest::ServerCert cert) {
    tarntest::ServerOptions options;
    options.cert = cert;
    options.idle_seconds = 120;
    options.lifetime_seconds = 1800;
    return options;
}

// A 64 MiB limit against a 400 MiB body without length and against a chunk
// that announces 4 GiB: each must end in the limit's error, holding little.
int limit_cases() {
    constexpr std::int64_t kLimit = std::int64_t{64} << 20;
    const std::string size = std::to_string(std::uint64_t{400} << 20);
    const struct {
        const char* name;
        std::string script;
    } cases[] = {
        {"400 MiB until close", R"([{"body_size":)" + size + R"(,"framing":"close","times":0}])"},
        {"ffffffff chunk + 400 MiB",
         R"([{"body_size":)" + size +
             R"(,"framing":"chunked","chunk_line":"ffffffff","times":0}])"},
    };
    std::printf("%-26s %8s %14s  %s\n", "64 MiB limit", "time", "peak RSS", "error");
    bool ok = true;
    for (const auto& c : cases) {
        tarntest::TestServer server;
        if (!server.start(c.script, long_lived(tarntest::ServerCert::None))) {
            std::cerr << server.last_error() << "\n";
            return 1;
        }
        ClientRun run = client_download(server.url("/endless"), kLimit);
        std::printf("%-26s %6.2f s %10.1f MiB  %u %s\n", c.name, run.seconds, mib(run.peak),
                    run.error.code, run.error.message.c_str());
        ok = ok && run.error.failed() && run.peak < (std::uint64_t{128} << 20);
    }
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t size_mib = 256;
    int rounds = 5;
    bool with_curl = true;
    bool limits = false;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--no-curl") with_curl = false;
        if (flag == "--limit-cases") limits = true;
        if (i + 1 < argc && flag == "--mib") size_mib = std::strtoull(argv[i + 1], nullptr, 10);
        if (i + 1 < argc && flag == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    if (tarncore::Socket::initialize().failed()) return 1;
    if (limits) {
        const int rc = limit_cases();
        tarncore::Socket::cleanup();
        return rc;
    }
    const std::uint64_t size = size_mib * 1024 * 1024;
    const std::string script =
        R"([{"path":"/big","body_size":)" + std::to_string(size) + R"(,"times":0}])";
    tarntest::TestServer plain, secure;
    if (!plain.start(script, long_lived(tarntest::ServerCert::None)) ||
        !secure.start(script, long_lived(tarntest::ServerCert::Good))) {
        std::cerr << plain.last_error() << secure.last_error() << "\n";
        return 1;
    }
    const std::string ca = tarntest::test_certificates() + "/ca.pem";
    const std::string curl_out = tarntest::test_certificates() + "/curl-size.txt";
    struct Target {
        const char* name;
        std::string url;
        std::string ca;
        std::vector<double> client, curl, curl_kept, peak_over_body;
    };
    Target targets[] = {{"http", plain.url("/big"), "", {}, {}, {}, {}},
                        {"https", secure.url("/big"), ca, {}, {}, {}, {}}};
    const std::string kept_body = "/dev/shm/tarn-download-bench-" + std::to_string(plain.port());

    // Rounds take turns, so a busy moment of the machine hurts both clients.
    bool ok = true;
    for (int r = 0; r < rounds && ok; ++r) {
        for (Target& t : targets) {
            ClientRun run = client_download(t.url, tarncore::kDefaultMaxBodyBytes);
            if (run.error.failed() || run.body != size) {
                std::cerr << "HttpClient: " << run.error.message << " (" << run.body << " bytes)\n";
                ok = false;
                break;
            }
            t.client.push_back(run.seconds);
            t.peak_over_body.push_back(static_cast<double>(run.peak - run.baseline) /
                                       static_cast<double>(size));
            double curl_seconds = 0;
            if (with_curl) {
                ok = curl_download(t.url, t.ca, size, "/dev/null", curl_out, curl_seconds) &&
                     curl_download(t.url, t.ca, size, kept_body, curl_out,
                                   t.curl_kept.emplace_back());
                t.curl.push_back(curl_seconds);
            }
        }
    }
    if (!ok) return 1;
    std::printf("GET of a %llu MiB body over loopback, medians of %d interleaved rounds\n",
                static_cast<unsigned long long>(size_mib), rounds);
    std::printf("%-6s %12s %12s %8s %16s %8s %12s\n", "", "HttpClient", "curl", "ratio",
                "curl, kept", "ratio", "peak/body");
    for (const Target& t : targets) {
        const double client = median(t.client);
        const double curl = median(t.curl);
        const double kept = median(t.curl_kept);
        std::printf("%-6s %10.3f s %10.3f s %8.2f %14.3f s %8.2f %12.2f\n", t.name, client, curl,
                    with_curl ? client / curl : 0.0, kept, with_curl ? client / kept : 0.0,
                    *std::max_element(t.peak_over_body.begin(), t.peak_over_body.end()));
    }
    tarncore::Socket::cleanup();
    return 0;
}
