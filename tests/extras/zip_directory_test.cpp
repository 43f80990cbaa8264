// The archive read before it is unpacked: central directories built here,
// sizes declared but never written, and the tree search that neither follows
// nor returns links.
#include "extras/zip_directory.h"

#include <gtest/gtest.h>

#include "extras/archive.h"
#include "support/layout.h"
#include "tests/common/test_data.h"

namespace tarncore::discordvoice {
namespace {

// Little-endian fields of the given byte widths (wider than 8: zeros after).
void put(std::string& out, std::initializer_list<int> widths,
         std::initializer_list<std::uint64_t> values) {
    const std::uint64_t* value = values.begin();
    for (const int size : widths) {
        for (int i = 0; i < size; ++i) out += static_cast<char>(i < 8 ? *value >> (8 * i) : 0);
        ++value;
    }
}

// A central directory and its end records; no file data, which the check never reads.
std::string zip_bytes(const Json& row) {
    const bool zip64 = row.find("zip64").kind == JsonKind::Bool;
    std::vector<Json> entries = tarntest::items(row.find("entries"));
    const auto repeat = static_cast<std::size_t>(row.get_int("repeat", 1));
    const std::uint64_t count = entries.size() * repeat, none32 = 0xFFFFFFFF;
    std::string directory;
    for (std::size_t i = 0; i < count; ++i) {
        const Json& e = entries[i % entries.size()];
        const std::string name = tarntest::text_at(e, 0) + (repeat > 1 ? std::to_string(i) : "");
        const auto size = static_cast<std::uint64_t>(std::stoll(tarntest::text_at(e, 3)));
        // Signature, made by (host system << 8 | version), needed, flags to
        // CRC, both sizes, name and extra lengths, comment to internal
        // attributes, external attributes, local record offset.
        put(directory, {4, 2, 2, 12, 4, 4, 2, 2, 6, 4, 4},
            {0x02014b50, std::stoul(tarntest::text_at(e, 1)) << 8 | 20, 20, 0,
             zip64 ? none32 : size, zip64 ? none32 : size, name.size(), zip64 ? 20u : 0u, 0,
             std::stoull(tarntest::text_at(e, 2)), 0});
        directory += name;
        if (zip64) put(directory, {2, 2, 8, 8}, {1, 16, size, size});
    }
    std::string out = std::string(64, 'L') + directory;  // room where local records would be
    if (zip64) {
        put(out, {4, 8, 4, 8, 8, 8, 8, 8, 4, 4, 8, 4},
            {0x06064b50, 44, 45, 0, count, count, directory.size(), 64, 0x07064b50, 0, out.size(),
             1});
    }
    put(out, {4, 4, 2, 2, 4, 4, 2},
        {0x06054b50, 0, zip64 ? 0xFFFF : count, zip64 ? 0xFFFF : count,
         zip64 ? none32 : directory.size(), zip64 ? none32 : 64, 0});
    out.resize(out.size() - static_cast<std::size_t>(row.get_int("cut", 0)));
    return row.find("garbage").kind == JsonKind::Bool ? std::string(100, 'x') : out;
}

// Rows as extras/zip_directory.json says.
TARN_ROWS(ZipDirectory, "extras/zip_directory.json", "rows");
TEST_P(ZipDirectory, IsJudgedBeforeUnpacking) {
    tarntest::TempDir temp;
    const Path zip = temp.path() / "a.zip";
    ASSERT_TRUE(write_file(zip, zip_bytes(row)));
    EXPECT_EQ(tarntest::error_text(check_zip_archive(zip)), row.get_string("outcome", ""));
}

// Under Wine the links are Unix links that look like a plain file and folder:
// only their final paths give them away.
TEST(FindInTree, LinksAreNeitherEnteredNorTakenAndNothingOutsideIs) {
    tarntest::TempDir temp;
    const Path root = temp.path() / "extract", outside = temp.path() / "outside";
    ASSERT_TRUE(ensure_dir(outside / "bin") && ensure_dir(root / "a") && ensure_dir(root / "c"));
    ASSERT_TRUE(write_file(outside / "bin" / "ffmpeg.exe", "outside"));
    ASSERT_TRUE(tarntest::make_link(root / "a" / "ffmpeg.exe", outside / "bin" / "ffmpeg.exe"));
    ASSERT_TRUE(tarntest::make_link(root / "b", outside));
    EXPECT_EQ(find_in_tree(root, "ffmpeg.exe"), Path());
    EXPECT_EQ(find_in_tree(root, "bin"), Path());
    ASSERT_TRUE(write_file(root / "c" / "ffmpeg.exe", "inside"));
    EXPECT_EQ(find_in_tree(root, "ffmpeg.exe"), root / "c" / "ffmpeg.exe");
    EXPECT_EQ(find_in_tree(root / "b", "ffmpeg.exe"), Path());
}

}  // namespace
}  // namespace tarncore::discordvoice
