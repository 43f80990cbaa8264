// SHA-256 throughput on one core: our SHA-extension and portable paths
// against OpenSSL's SHA-256 with and without its use of the SHA extensions,
// over one 256 MiB message in memory. Each figure is the best of --runs runs
// (interleaved), timed in processor time so that other load on the machine
// counts less.
//   sha256_bench [--mib N] [--runs N]
// OpenSSL reads OPENSSL_ia32cap once at start-up, so its masked run happens
// in a second process of this program (--openssl-only).
#include <openssl/sha.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "update/sha256.h"

namespace {

// CPUID(7).EBX bit 29 (SHA) masked off in OpenSSL's capability vector.
constexpr char kMaskSha[] = "OPENSSL_ia32cap=:~0x20000000";

int runs = 3;

template <typename F>
double mib_per_second(std::size_t bytes, F&& hash) {
    std::clock_t start = std::clock();
    hash();
    double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
    return static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds;
}

double openssl_speed(const std::vector<unsigned char>& message, std::string& digest) {
    unsigned char out[SHA256_DIGEST_LENGTH];
    double speed =
        mib_per_second(message.size(), [&] { SHA256(message.data(), message.size(), out); });
    digest.assign(reinterpret_cast<char*>(out), sizeof out);
    return speed;
}

double ours(const std::vector<unsigned char>& message, tarncore::Sha256Path path,
            std::string& digest) {
    std::vector<std::uint8_t> out;
    double speed = mib_per_second(message.size(), [&] {
        out = tarncore::sha256_digest(message.data(), message.size(), path);
    });
    digest.assign(out.begin(), out.end());
    return speed;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t mib = 256;
    bool openssl_only = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--openssl-only") == 0) openssl_only = true;
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) runs = std::atoi(argv[++i]);
        if (std::strcmp(argv[i], "--mib") == 0 && i + 1 < argc)
            mib = std::strtoul(argv[++i], nullptr, 10);
    }
    std::vector<unsigned char> message(mib * 1024 * 1024);
    for (std::size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<unsigned char>(i * 131 + (i >> 13));

    std::string reference, digest;
    if (openssl_only) {
        double best = 0;
        for (int r = 0; r < runs; ++r) best = std::max(best, openssl_speed(message, reference));
        std::printf("%.1f\n", best);
        return 0;
    }
    // The masked OpenSSL run, in a child that reads the mask at start-up.
    std::string command =
        std::string(kMaskSha) + " '" + argv[0] + "' --openssl-only --mib " + std::to_string(mib);
    double openssl_plain = 0;
    if (FILE* child = popen(command.c_str(), "r")) {
        if (std::fscanf(child, "%lf", &openssl_plain) != 1) openssl_plain = 0;
        pclose(child);
    }
    const bool has_sha = tarncore::sha256_path_available(tarncore::Sha256Path::Extensions);
    double sha_path = 0, openssl_sha = 0, portable = 0;
    bool same = true;
    for (int r = 0; r < runs; ++r) {
        openssl_sha = std::max(openssl_sha, openssl_speed(message, reference));
        sha_path = std::max(sha_path, ours(message, tarncore::Sha256Path::Extensions, digest));
        same = same && digest == reference;
        portable = std::max(portable, ours(message, tarncore::Sha256Path::Portable, digest));
        same = same && digest == reference;
    }

    std::printf("SHA-256 of %zu MiB in memory, best of %d runs (MiB/s of processor time)\n", mib,
                runs);
    std::printf("  SHA-extension path %s %10.1f\n", has_sha ? "    " : "(n/a)", sha_path);
    std::printf("  OpenSSL, SHA extensions  %10.1f\n", openssl_sha);
    std::printf("  portable path            %10.1f\n", portable);
    std::printf("  OpenSSL, %-15s %10.1f\n", kMaskSha + 16, openssl_plain);
    std::printf("ratio SHA path / OpenSSL with extensions:    %.3f\n", sha_path / openssl_sha);
    std::printf("ratio portable / OpenSSL without extensions: %.3f\n", portable / openssl_plain);
    std::printf("digests %s\n", same ? "equal" : "DIFFER");
    return same ? 0 : 1;
}
