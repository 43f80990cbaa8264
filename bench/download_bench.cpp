// A body into memory through HttpClient against curl -o /dev/shm/f (curl
// keeping the body in memory too, its start included): 256 MiB over loopback
// from openssl s_server -WWW (HTTPS, no length, ends at the close), the test
// server's chunked answer (HTTP, 64 KiB chunks) and its answer with a length
// (HTTPS); the two clients take turns for several rounds; medians, and the
// client's peak memory over the body.
//   download_bench [--mib N] [--rounds N] [--only chunked|length|"s_server -WWW"]
//   download_bench --limit-cases   (64 MiB limit against 400 MiB bodies)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "bench/local_servers.h"
#include "bench/peak_memory.h"
#include "net/http_client.h"
#include "net/socket.h"
#include "tests/common/test_env.h"
#include "tests/common/test_server.h"

namespace {

using tarnbench::Clock;
using tarnbench::median;
using tarnbench::seconds_since;

double mib(std::uint64_t bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

struct ClientRun {
    double seconds = 0;
    double cpu = 0;
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
    const double cpu = tarnbench::cpu_seconds_self();
    tarncore::HttpResponse response = tarncore::HttpClient::execute(request, run.error);
    run.seconds = seconds_since(start);
    run.cpu = tarnbench::cpu_seconds_self() - cpu;
    run.peak = tarnbench::peak_memory();
    run.body = response.body.size();
    return run;
}

tarntest::ServerOptions long_lived(const std::string& cert) {
    tarntest::ServerOptions options;
    options.cert = cert;
    options.idle_seconds = 120;
    options.lifetime_seconds = 1800;
    return options;
}

// A 64 MiB limit against bodies that do not end there: without a length
// (over HTTP, over HTTPS, and trickled) and behind a chunk that announces
// 4 GiB. Each must end in the limit's error, asked once, holding little.
int limit_cases() {
    constexpr std::int64_t kLimit = std::int64_t{64} << 20;
    const std::string size = std::to_string(std::uint64_t{400} << 20);
    const std::string endless = R"([{"body_size":)" + size + R"(,"framing":"close","times":0)";
    const struct {
        const char* name;
        std::string script;
        std::string cert;
    } cases[] = {
        {"400 MiB until close", endless + "}]", ""},
        {"400 MiB until close, TLS", endless + "}]", "good"},
        {"trickled until close, TLS", endless + R"(,"pace":[1048576,5]}])", "good"},
        {"ffffffff chunk + 400 MiB",
         R"([{"body_size":)" + size + R"(,"framing":"chunked","chunk_line":"ffffffff","times":0}])",
         ""},
    };
    if (tarntest::test_certificates().empty()) return 1;
    std::printf("%-26s %8s %14s %9s  %s\n", "64 MiB limit", "time", "peak RSS", "requests",
                "error");
    bool ok = true;
    for (const auto& c : cases) {
        tarntest::TestServer server;
        if (!server.start(c.script, long_lived(c.cert))) {
            std::cerr << server.last_error() << "\n";
            return 1;
        }
        ClientRun run = client_download(server.url("/endless"), kLimit);
        const std::size_t asked = server.http_requests().size();
        std::printf("%-26s %6.2f s %10.1f MiB %9zu  %u %s\n", c.name, run.seconds, mib(run.peak),
                    asked, run.error.code, run.error.message.c_str());
        ok = ok && run.error.failed() && run.peak < (std::uint64_t{128} << 20) && asked == 1;
    }
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t size_mib = 256;
    int rounds = 5;
    bool limits = false;
    std::string only;  // one target by name, for profiling
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--limit-cases") limits = true;
        if (i + 1 < argc && flag == "--mib") size_mib = std::strtoull(argv[i + 1], nullptr, 10);
        if (i + 1 < argc && flag == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
        if (i + 1 < argc && flag == "--only") only = argv[i + 1];
    }
    if (tarncore::Socket::initialize().failed()) return 1;
    if (limits) {
        const int rc = limit_cases();
        tarncore::Socket::cleanup();
        return rc;
    }
    const std::uint64_t size = size_mib * 1024 * 1024;
    const std::string body_size = std::to_string(size);
    tarntest::TestServer chunked, length;
    tarnbench::WwwServer www;
    tarntest::TempDir folder;
    const std::string certs = tarntest::test_certificates();
    if (!tarnbench::write_pattern_file((folder.path() / "body.bin").string(), size) ||
        !www.start(folder.path().string(), certs) ||
        !chunked.start(R"([{"path":"/big","framing":"chunked","chunk_size":65536,"body_size":)" +
                           body_size + R"(,"times":0}])",
                       long_lived("")) ||
        !length.start(R"([{"path":"/big","body_size":)" + body_size + R"(,"times":0}])",
                      long_lived("good"))) {
        std::cerr << "a server did not start: " << chunked.last_error() << length.last_error()
                  << "\n";
        return 1;
    }
    struct Target {
        const char* name;
        std::string url;
        std::vector<double> client, curl, client_cpu, curl_cpu, peak_over_body;
    };
    Target targets[] = {{"s_server -WWW", www.url("body.bin"), {}, {}, {}, {}, {}},
                        {"chunked", chunked.url("/big"), {}, {}, {}, {}, {}},
                        {"length", length.url("/big"), {}, {}, {}, {}, {}}};
    const std::string kept = "/dev/shm/tarn-download-bench-" + std::to_string(length.port());

    if (!only.empty() && std::none_of(std::begin(targets), std::end(targets),
                                      [&](const Target& t) { return only == t.name; })) {
        std::cerr << "--only: no server named " << only << "\n";
        return 2;
    }
    // Rounds take turns, so a busy moment of the machine hurts both clients.
    for (int r = 0; r < rounds; ++r) {
        for (Target& t : targets) {
            if (!only.empty() && only != t.name) continue;
            ClientRun run = client_download(t.url, tarncore::kDefaultMaxBodyBytes);
            if (run.error.failed() || run.body != size) {
                std::cerr << t.name << ": HttpClient: " << run.error.message << " (" << run.body
                          << " bytes)\n";
                return 1;
            }
            t.client.push_back(run.seconds);
            t.client_cpu.push_back(run.cpu);
            t.peak_over_body.push_back(static_cast<double>(run.peak - run.baseline) /
                                       static_cast<double>(size));
            const double children = tarnbench::cpu_seconds_children();
            const double curl = tarnbench::timed_shell(
                "curl -sf --cacert '" + certs + "/ca.pem' -o '" + kept + "' '" + t.url + "'");
            const bool whole = std::filesystem::file_size(kept) == size;
            std::filesystem::remove(kept);
            if (curl < 0 || !whole) {
                std::cerr << t.name << ": curl failed\n";
                return 1;
            }
            t.curl.push_back(curl);
            t.curl_cpu.push_back(tarnbench::cpu_seconds_children() - children);
        }
    }
    std::printf(
        "GET of a %llu MiB body into memory over loopback, medians of %d interleaved "
        "rounds\n",
        static_cast<unsigned long long>(size_mib), rounds);
    std::printf("%-14s %12s %20s %8s %10s %14s\n", "", "HttpClient", "curl -o /dev/shm/f", "ratio",
                "peak/body", "CPU ratio");
    for (const Target& t : targets) {
        if (t.client.empty()) continue;
        const double client = median(t.client);
        const double curl = median(t.curl);
        std::printf("%-14s %10.3f s %18.3f s %8.2f %10.3f %14.2f\n", t.name, client, curl,
                    client / curl,
                    *std::max_element(t.peak_over_body.begin(), t.peak_over_body.end()),
                    median(t.client_cpu) / median(t.curl_cpu));
    }
    tarncore::Socket::cleanup();
    return 0;
}
