// A verified runtime download as the setup makes it: 256 MiB from the local
// HTTPS server through download_runtime (meter drawing, length and SHA-256
// checked, file written), with the peak resident memory against the body.
//   update_download_bench [--mib N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "bench/peak_memory.h"
#include "net/socket.h"
#include "support/layout.h"
#include "tests/common/test_env.h"
#include "tests/common/test_server.h"
#include "update/sha256.h"
#include "update/update_client.h"

int main(int argc, char** argv) {
    std::uint64_t mib = 256;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--mib") == 0) mib = std::strtoull(argv[i + 1], nullptr, 10);
    }
    const std::uint64_t size = mib * 1024 * 1024;
    if (tarncore::Socket::initialize().failed()) return 1;

    tarncore::ReleaseManifest manifest;
    manifest.latest = "9.9.9";
    manifest.size = static_cast<std::int64_t>(size);
    {
        // The server's body: byte i is i % 256. Hashed here, then freed
        // before the measurement starts.
        std::string expected(size, '\0');
        for (std::uint64_t i = 0; i < size; ++i) expected[i] = static_cast<char>(i % 256);
        manifest.sha256 = tarncore::sha256_hex(expected.data(), expected.size());
    }
    tarntest::ServerOptions options;
    options.cert = tarntest::ServerCert::Good;
    options.idle_seconds = 120;
    options.lifetime_seconds = 600;
    tarntest::TestServer server;
    const std::string script = R"([{"path":"/runtime","body_size":)" + std::to_string(size) + "}]";
    if (!server.start(script, options)) {
        std::cerr << server.last_error() << "\n";
        return 1;
    }
    manifest.download_url = server.url("/runtime");
    tarntest::TempDir temp;
    const tarncore::Path destination = temp.path() / "cache" / "runtime.bin";

    const std::uint64_t baseline = tarnbench::current_memory();
    tarnbench::reset_peak_memory();
    const auto start = std::chrono::steady_clock::now();
    tarncore::Error error =
        tarncore::download_runtime(tarncore::UpdateClient(), manifest, destination);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::uint64_t peak = tarnbench::peak_memory();
    tarncore::Socket::cleanup();
    if (error.failed()) {
        std::cerr << tarncore::format_error_report(error) << "\n";
        return 1;
    }
    const double body = static_cast<double>(size);
    std::printf("verified download of %llu MiB over HTTPS: %.2f s\n",
                static_cast<unsigned long long>(mib), seconds);
    std::printf(
        "peak resident %.1f MiB (%.3fx the body), %.1f MiB over the %.1f MiB before it "
        "(%.3fx)\n",
        static_cast<double>(peak) / 1048576.0, static_cast<double>(peak) / body,
        static_cast<double>(peak - baseline) / 1048576.0, static_cast<double>(baseline) / 1048576.0,
        static_cast<double>(peak - baseline) / body);
    return static_cast<double>(peak) <= 1.15 * body ? 0 : 1;
}
