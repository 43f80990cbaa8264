// SHA-256 by each compression path against digests made by an independent
// implementation (tests/data/update/make_sha256_vectors.py), and the two
// paths against each other.
#include "update/sha256.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <random>

#include "tests/common/table_file.h"
#include "tests/common/test_env.h"

namespace {

using tarncore::Sha256Path;

std::vector<Sha256Path> paths() {
    if (!tarncore::sha256_path_available(Sha256Path::Extensions)) return {Sha256Path::Portable};
    return {Sha256Path::Portable, Sha256Path::Extensions};
}

std::string digest_hex(const std::string& message, Sha256Path path) {
    std::string text;
    for (std::uint8_t byte : tarncore::sha256_digest(message.data(), message.size(), path)) {
        text += "0123456789abcdef"[byte >> 4];
        text += "0123456789abcdef"[byte & 15];
    }
    return text;
}

void expect_digest(const std::string& message, const std::string& want, const std::string& where) {
    for (Sha256Path path : paths()) {
        EXPECT_EQ(digest_hex(message, path), want) << where << ", path " << static_cast<int>(path);
    }
    EXPECT_EQ(tarncore::sha256_hex(message.data(), message.size()), want) << where;
}

std::string from_hex(const std::string& text) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

TEST(Sha256, NistShortLongAndMonteCarlo) {
    std::ifstream in(tarntest::source_path("tests/data/update/sha256_nist.rsp"));
    std::string line, message, seed, next_seed;
    std::size_t length = 0;
    int checked = 0;
    while (std::getline(in, line)) {
        const std::size_t eq = line.find(" = ");
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 3);
        if (key == "Len") length = std::stoul(value) / 8;
        if (key == "Msg") message = from_hex(value).substr(0, length);
        if (key == "Seed") seed = from_hex(value);
        if (key != "MD") continue;
        ++checked;
        if (seed.empty()) {
            expect_digest(message, value, "Len " + std::to_string(length));
            continue;
        }
        for (Sha256Path path : paths()) {
            std::string md[3] = {seed, seed, seed};
            for (int i = 0; i < 1000; ++i) {
                const std::string chained = md[0] + md[1] + md[2];
                md[0] = std::move(md[1]);
                md[1] = std::move(md[2]);
                md[2] = from_hex(digest_hex(chained, path));
            }
            EXPECT_EQ(md[2], from_hex(value)) << "Monte Carlo " << checked;
            if (path == Sha256Path::Portable) next_seed = md[2];
        }
        seed = next_seed;
    }
    EXPECT_EQ(checked, 229);
}

TEST(Sha256, EveryLengthToThreeHundredAndLargeMessages) {
    const std::string table = "update/sha256_lengths.txt";
    for (const tarntest::TableRow& row : tarntest::read_table(table)) {
        std::string message;
        if (row[0] == "text") message = row[1];
        if (row[0] == "repeat") message.assign(std::stoul(row[2]), from_hex(row[1])[0]);
        if (row[0] == "lcg") {
            std::uint32_t x = static_cast<std::uint32_t>(std::stoul(row[1]));
            message.resize(x);
            for (char& byte : message) {
                x = x * 1103515245u + 12345u;
                byte = static_cast<char>(x >> 24);
            }
        }
        expect_digest(message, row.fields.back(), tarntest::row_where(table, row));
    }
}

TEST(Sha256, PathsAgreeOnRandomMessages) {
    std::cout << "SHA extensions path: "
              << (paths().size() == 2 ? "taken (CPU has SHA)" : "not available") << "\n";
    std::mt19937 random(4096);
    for (int i = 0; i < 300; ++i) {
        std::string message(std::uniform_int_distribution<std::size_t>(0, 4096)(random), '\0');
        for (char& byte : message) byte = static_cast<char>(random());
        const std::string portable = digest_hex(message, Sha256Path::Portable);
        EXPECT_EQ(digest_hex(message, paths().back()), portable) << message.size();
        EXPECT_EQ(tarncore::sha256_hex(message.data(), message.size()), portable);
    }
}

}  // namespace
