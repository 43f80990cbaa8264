// The verified runtime download as the setup makes it (download_runtime: the
// meter drawing, length and SHA-256 checked, the file written) against
// curl -o f && openssl dgst -sha256 f in the same folder: 256 MiB from openssl
// s_server -WWW (no length) and from the test server with a length, both
// HTTPS, in interleaved rounds; medians and the peak memory over the body.
//   update_download_bench [--mib N] [--rounds N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/local_servers.h"
#include "bench/peak_memory.h"
#include "net/socket.h"
#include "support/layout.h"
#include "tests/common/test_env.h"
#include "tests/common/test_server.h"
#include "update/sha256.h"
#include "update/update_client.h"

int main(int argc, char** argv) {
    std::uint64_t mib = 256;
    int rounds = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--mib") == 0) mib = std::strtoull(argv[i + 1], nullptr, 10);
        if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    const std::uint64_t size = mib * 1024 * 1024;
    if (tarncore::Socket::initialize().failed()) return 1;

    tarncore::ReleaseManifest manifest;
    manifest.latest = "9.9.9";
    manifest.size = static_cast<std::int64_t>(size);
    {
        // The servers' body: byte i is i % 256. Hashed here, then freed
        // before the measurement starts.
        std::string expected(size, '\0');
        for (std::uint64_t i = 0; i < size; ++i) expected[i] = static_cast<char>(i % 256);
        manifest.sha256 = tarncore::sha256_hex(expected.data(), expected.size());
    }
    tarntest::ServerOptions options;
    options.cert = "good";
    options.idle_seconds = 120;
    options.lifetime_seconds = 1800;
    tarntest::TestServer length;
    tarnbench::WwwServer www;
    tarntest::TempDir served, temp;
    const std::string certs = tarntest::test_certificates();
    if (!tarnbench::write_pattern_file((served.path() / "runtime.bin").string(), size) ||
        !www.start(served.path().string(), certs) ||
        !length.start(
            R"([{"path":"/runtime","body_size":)" + std::to_string(size) + R"(,"times":0}])",
            options)) {
        std::cerr << "a server did not start: " << length.last_error() << "\n";
        return 1;
    }
    struct Target {
        const char* name;
        std::string url;
        std::vector<double> client, curl, peak_over_body;
    };
    Target targets[] = {{"s_server -WWW", www.url("runtime.bin"), {}, {}, {}},
                        {"length", length.url("/runtime"), {}, {}, {}}};
    const tarncore::Path destination = temp.path() / "cache" / "runtime.bin";
    const std::string curl_file = (temp.path() / "curl.bin").string();

    // The meter still draws, into nothing.
    std::ostringstream console;
    std::streambuf* const stdout_buffer = std::cout.rdbuf();
    for (int r = 0; r < rounds; ++r) {
        for (Target& t : targets) {
            manifest.download_url = t.url;
            std::filesystem::remove(destination);
            const std::uint64_t baseline = tarnbench::current_memory();
            tarnbench::reset_peak_memory();
            std::cout.rdbuf(console.rdbuf());
            const auto start = tarnbench::Clock::now();
            tarncore::Error error =
                tarncore::download_runtime(tarncore::UpdateClient(), manifest, destination);
            const double seconds = tarnbench::seconds_since(start);
            std::cout.rdbuf(stdout_buffer);
            console.str("");
            const std::uint64_t peak = tarnbench::peak_memory();
            if (error.failed()) {
                std::cerr << t.name << ": " << tarncore::format_error_report(error) << "\n";
                return 1;
            }
            t.client.push_back(seconds);
            t.peak_over_body.push_back(static_cast<double>(peak - baseline) /
                                       static_cast<double>(size));
            const double curl = tarnbench::timed_shell(
                "curl -sf --cacert '" + certs + "/ca.pem' -o '" + curl_file + "' '" + t.url +
                "' && openssl dgst -sha256 '" + curl_file + "' > /dev/null");
            const bool whole = std::filesystem::file_size(curl_file) == size;
            std::filesystem::remove(curl_file);
            if (curl < 0 || !whole) {
                std::cerr << t.name << ": curl or openssl failed\n";
                return 1;
            }
            t.curl.push_back(curl);
        }
    }
    tarncore::Socket::cleanup();
    std::printf(
        "verified download of %llu MiB over HTTPS to %s, medians of %d interleaved "
        "rounds\n",
        static_cast<unsigned long long>(mib), temp.path().string().c_str(), rounds);
    std::printf("%-14s %16s %26s %8s %10s\n", "", "download_runtime", "curl -o f && openssl dgst",
                "ratio", "peak/body");
    for (const Target& t : targets) {
        const double client = tarnbench::median(t.client);
        const double curl = tarnbench::median(t.curl);
        std::printf("%-14s %14.3f s %24.3f s %8.2f %10.3f\n", t.name, client, curl, client / curl,
                    *std::max_element(t.peak_over_body.begin(), t.peak_over_body.end()));
    }
    return 0;
}
