// The extras end to end: real zip archives made with bsdtar, served by the
// local HTTPS server and unpacked by a tar stand-in on the search path that
// runs bsdtar (under Wine a Windows tar.exe that hands over to it); and the
// archive read before it is unpacked: central directories built here, sizes
// declared but never written, and the tree search that neither follows nor
// returns links.
#include "extras/extras.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "extras/archive.h"
#include "extras/zip_directory.h"
#include "support/child_process.h"
#include "support/layout.h"
#include "update/sha256.h"
#include "tests/common/console_capture.h"
#include "tests/common/install_sandbox.h"
#include "tests/common/test_data.h"
#include "tests/common/test_server.h"

namespace tarncore::discordvoice {
namespace {

namespace fs = std::filesystem;
using namespace tarntest;

// Files below dir from a map name -> size, of bytes that do not compress.
void fill(const Path& dir, const Json& files) {
    for (const auto& [name, size] : members(files)) {
        const Path file = dir / native_from_text(name);
        ASSERT_TRUE(ensure_dir(file.parent_path()));
        ASSERT_TRUE(write_file(file, lcg(static_cast<std::size_t>(std::get<double>(size.value)))));
    }
}

bool make_zip(const Path& folder, const Path& zip) {
    return run_host_program({"/usr/bin/bsdtar", "--format", "zip", "-cf", unix_path(zip), "-C",
                             unix_path(folder), "."}) == 0;
}

// "name size" lines of a folder's entries, sorted.
std::string listing(const Path& dir, bool sizes = true) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        names.insert(path_text(entry.path().filename()) +
                     (sizes ? " " + std::to_string(fs::file_size(entry, ec)) : ""));
    }
    std::string out;
    for (const std::string& name : names) out += name + "\n";
    return out;
}
// A private installation whose search path holds only a tar stand-in behaving as `mode` asks.
struct ExtrasBench {
    InstallSandbox box;
    TempDir bin;
    ScopedEnv path{"PATH", bin.path().native()};
    ScopedEnv mode;
    const Path tar = bin.path() / ("tar" + test_tool("fake_tar").extension().string());
    explicit ExtrasBench(const std::string& tar_mode = "")
        : mode("TARN_FAKE_TAR", native_from_text(tar_mode)) {
        fs::copy_file(test_tool("fake_tar"), tar);
    }
};

// Rows: tools "present" in the installation and files "before" in FFmpeg's work
// folder; "refresh"; "manual": yt-dlp without a URL; the "archive" served as {zip} by the server
// "script"; the "result" (with " | log: " and what only the log is told), the screens of "stdout"
// and "stderr", and the "tools" and "work" folders afterwards ("tools_file": tools is a file).
// {base} stands for the server's address, {tools} for the tools folder.
TARN_ROWS(InstallExtras, "extras/refresh.json", "");
TEST_P(InstallExtras, EndAsWritten) {
    ExtrasBench bench;
    const Path scratch = bench.box.scratch(), work = bench.box.cache / "extras" / "ffmpeg";
    const Path zip = scratch / "f.zip";
    if (flag(row, "tools_file")) {
        ASSERT_TRUE(ensure_dir(bench.box.root) && write_file(bench.box.tools, ""));
    }
    fill(bench.box.tools, row.find("present"));
    fill(work, row.find("before"));
    fill(scratch / "tree", row.find("archive"));
    for (const auto& [link, target] : members(row.find("links"))) {
        const Path at = scratch / "tree" / native_from_text(link);
        ASSERT_TRUE(ensure_dir(at.parent_path()));
        ASSERT_TRUE(make_link(at, native_from_text(std::get<std::string>(target.value))));
    }
    ASSERT_TRUE(!fs::exists(scratch / "tree") || make_zip(scratch / "tree", zip));
    // The publishers' checksums of what the row serves, behind its own behaviours.
    std::string zip_bytes, yt_dlp;
    (void)read_file(zip, zip_bytes);
    for (const Json& b : items(row.find("script"))) {
        if (b.get_string("path", "") == "/yt-dlp.exe") yt_dlp = pattern(b.get_int("body_size", 0));
    }
    const std::string own = row.find("script").dump(false);
    const std::string script =
        replace_all((own == "null" ? "[" : own.substr(0, own.size() - 1) + ",") + R"(
        {"path": "/ffmpeg.zip.sha256", "body": "{zip_sha256}", "times": 0}, {"path":
        "/SHA2-256SUMS", "times": 0, "body": "{zeros}  yt-dlp\n{yt_dlp_sha256}  yt-dlp.exe\n"}])",
                    {{"{zip}", unix_path(zip)},
                     {"{zip_sha256}", sha256_hex(zip_bytes.data(), zip_bytes.size())},
                     {"{zeros}", std::string(64, '0')},
                     {"{yt_dlp_sha256}", sha256_hex(yt_dlp.data(), yt_dlp.size())}});
    TestServer server;
    ASSERT_TRUE(server.start(script, {"good"})) << server.last_error();
    const std::string urls[] = {server.url("/ffmpeg.zip"), server.url("/ffmpeg.zip.sha256"),
                                server.url("/yt-dlp.exe"), server.url("/SHA2-256SUMS")};
    ExtraComponent rows[] = {kExtrasCatalogue[0], kExtrasCatalogue[1]};
    rows[0].url = urls[0];
    rows[0].checksum_url = urls[1];
    rows[1].url = flag(row, "manual") ? std::string_view() : urls[2];
    rows[1].checksum_url = urls[3];
    auto expand = [&](const std::string& t) {
        return replace_all(
            t, {{"{base}", server.base_url()}, {"{tools}", path_text(bench.box.tools)}});
    };

    ConsoleCapture console;
    const Error result = install_extras(bench.box, flag(row, "refresh"), rows);
    EXPECT_EQ(error_text(result) + (result.detail.empty() ? "" : " | log: " + result.detail),
              expand(row.get_string("result", "")));
    EXPECT_EQ(screen(console.out()), expand(lines(row.find("stdout"))));
    EXPECT_EQ(screen(console.err(), "http"), expand(lines(row.find("stderr"))));
    EXPECT_EQ(listing(bench.box.tools), lines(row.find("tools")));
    EXPECT_EQ(listing(work, false), lines(row.find("work")));
    // Each request is recorded before it is answered.
    for (const Json& request : server.http_requests()) {
        const std::string headers = request.find("headers").dump(false);
        EXPECT_NE(headers.find(R"(["User-Agent","Tarnwick-Setup/1.2.4"])"), std::string::npos)
            << headers;
        EXPECT_NE(headers.find(R"(["Accept","*/*"])"), std::string::npos) << headers;
    }
}

// asked: the name find_executable is given; file: the file put in each of
// the places (path: the search path; beside, root, cwd: the tools folder
// beside the test program, in the installation root, in the current folder);
// found: the place whose file is found ("name": the name itself; "-": none);
// cut: the files are 1024 bytes, what a stopped copy leaves, and count as no
// tool. A name with a dot gets no second extension; a name with a folder
// part is a path and nothing is searched.
TARN_ROWS(FindExecutable, "extras/find_executable.json", "rows");
TEST_P(FindExecutable, SearchesInOrder) {
    const Path beside = executable_path().parent_path() / "tools";
    ASSERT_FALSE(fs::exists(beside));
    ExtrasBench bench;
    TempDir cwd;
    const std::map<std::string, Path> places = {{"path", bench.bin.path()},
                                                {"beside", beside},
                                                {"root", bench.box.tools},
                                                {"cwd", cwd.path() / "tools"}};
    const Path file = native_from_text(row.get_string("file", ""));
    for (const auto& [place, folder] : places) {
        if (("," + row.get_string("places", "") + ",").find("," + place + ",") == std::string::npos)
            continue;
        ASSERT_TRUE(ensure_dir((folder / file).parent_path()));
        if (flag(row, "cut")) {
            ASSERT_TRUE(write_file(folder / file, std::string(1024, 'x')));
        } else {
            fs::copy_file(bench.tar, folder / file);
        }
    }
    const ScopedCurrentDir here(cwd.path());
    const std::string asked = row.get_string("asked", ""), found = row.get_string("found", "");
    EXPECT_EQ(path_text(find_executable(asked, bench.box.root)),
              found == "-"      ? ""
              : found == "name" ? asked
                                : path_text(places.at(found) / file));
    fs::remove_all(beside);
}

// tar: how the tar stand-in misbehaves ("-": not at all; "missing": there is
// no tar); limit_ms: the time limit; outcome. An error exit or chatter still
// unpacks; a hanging tar is ended.
TARN_ROWS(ExtractArchive, "extras/extract.json", "rows");
TEST_P(ExtractArchive, EndsAsWritten) {
    const std::string tar = row.get_string("tar", "");
    ExtrasBench bench(tar == "-" ? "" : tar);
    if (tar == "missing") fs::remove(bench.tar);
    const Path scratch = bench.box.scratch();
    fill(scratch / "tree", Json::Object{{"deep/er/ffmpeg.exe", 2000.0}});
    ASSERT_TRUE(make_zip(scratch / "tree", scratch / "with space.zip"));
    const Error error = extract_archive(scratch / "with space.zip", scratch / "out", bench.box.root,
                                        {row.get_int("limit_ms", 0), 50});
    EXPECT_EQ(error_text(error), row.get_string("outcome", ""));
    EXPECT_EQ(usable_file(find_in_tree(scratch / "out", "ffmpeg.exe")), error.ok());
}

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
    std::vector<Json> entries = items(row.find("entries"));
    const auto repeat = static_cast<std::size_t>(row.get_int("repeat", 1));
    const std::uint64_t count = entries.size() * repeat, none32 = 0xFFFFFFFF;
    std::string directory;
    for (std::size_t i = 0; i < count; ++i) {
        const Json& e = entries[i % entries.size()];
        const std::string name = text_at(e, 0) + (repeat > 1 ? std::to_string(i) : "");
        const auto size = static_cast<std::uint64_t>(std::stoll(text_at(e, 3)));
        // Signature, made by (host system << 8 | version), needed, flags to
        // CRC, both sizes, name and extra lengths, comment to internal
        // attributes, external attributes, local record offset.
        put(directory, {4, 2, 2, 12, 4, 4, 2, 2, 6, 4, 4},
            {0x02014b50, std::stoul(text_at(e, 1)) << 8 | 20, 20, 0, zip64 ? none32 : size,
             zip64 ? none32 : size, name.size(), zip64 ? 20u : 0u, 0, std::stoull(text_at(e, 2)),
             0});
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
    TempDir temp;
    const Path zip = temp.path() / "a.zip";
    ASSERT_TRUE(write_file(zip, zip_bytes(row)));
    EXPECT_EQ(error_text(check_zip_archive(zip)), row.get_string("outcome", ""));
}

// Under Wine the links are Unix links that look like a plain file and folder:
// only their final paths give them away.
TEST(FindInTree, LinksAreNeitherEnteredNorTakenAndNothingOutsideIs) {
    TempDir temp;
    const Path root = temp.path() / "extract", outside = temp.path() / "outside";
    ASSERT_TRUE(ensure_dir(outside / "bin") && ensure_dir(root / "a") && ensure_dir(root / "c"));
    ASSERT_TRUE(write_file(outside / "bin" / "ffmpeg.exe", "outside"));
    ASSERT_TRUE(make_link(root / "a" / "ffmpeg.exe", outside / "bin" / "ffmpeg.exe"));
    ASSERT_TRUE(make_link(root / "b", outside));
    EXPECT_EQ(find_in_tree(root, "ffmpeg.exe"), Path());
    EXPECT_EQ(find_in_tree(root, "bin"), Path());
    ASSERT_TRUE(write_file(root / "c" / "ffmpeg.exe", "inside"));
    EXPECT_EQ(find_in_tree(root, "ffmpeg.exe"), root / "c" / "ffmpeg.exe");
    EXPECT_EQ(find_in_tree(root / "b", "ffmpeg.exe"), Path());
}

}  // namespace
}  // namespace tarncore::discordvoice
