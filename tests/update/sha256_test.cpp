// SHA-256 by each compression path against digests made by an independent
// implementation (scripts/make_sha256_vectors.py).
#include "update/sha256.h"

#include <gtest/gtest.h>

#include "tests/common/test_data.h"

namespace {

using tarncore::Sha256Path;
using tarntest::from_hex;
using tarntest::text_at;

// The extensions path only where the CPU has it.
std::vector<Sha256Path> paths() {
    if (!tarncore::sha256_path_available(Sha256Path::Extensions)) return {Sha256Path::Portable};
    return {Sha256Path::Portable, Sha256Path::Extensions};
}

std::string digest(const std::string& message, Sha256Path path) {
    const auto d = tarncore::sha256_digest(message.data(), message.size(), path);
    return std::string(d.begin(), d.end());
}

// One test per set of make_sha256_vectors.py (its note says what each row
// holds); name: the set; rows: [set, message..., digest].
TARN_ROWS_OF(Sha256Vectors,
             tarntest::kind_groups("update/sha256_vectors.json", {"hex", "text", "repeat", "lcg"}));
TEST_P(Sha256Vectors, MatchAnIndependentImplementation) {
    for (const tarncore::Json& row : tarntest::items(GetParam().find("rows"))) {
        const std::string kind = text_at(row, 0),
                          want = text_at(row, tarntest::items(row).size() - 1);
        SCOPED_TRACE(kind + " " + text_at(row, 1).substr(0, 40) + " " + want);
        std::string message = kind == "hex" ? from_hex(text_at(row, 1)) : text_at(row, 1);
        if (kind == "repeat") message.assign(std::stoul(text_at(row, 2)), message[0]);
        if (kind == "lcg") message = tarntest::lcg(std::stoul(message));
        for (Sha256Path path : paths()) EXPECT_EQ(digest(message, path), from_hex(want));
        EXPECT_EQ(tarncore::sha256_hex(message.data(), message.size()), want);
        EXPECT_EQ(tarntest::digest_in_pieces(tarncore::Sha256(), message), from_hex(want));
    }
}

}  // namespace
