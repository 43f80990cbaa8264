// The extras end to end: real zip archives made with bsdtar, served by the
// local HTTPS server and unpacked by a tar stand-in on the search path that
// runs bsdtar (under Wine a Windows tar.exe that hands over to it).
#include "extras/extras.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "extras/archive.h"
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
using tarntest::error_text;
using tarntest::lines;
using tarntest::members;

// Files below dir from a map name -> size, of bytes that do not compress.
void fill(const Path& dir, const Json& files) {
    for (const auto& [name, size] : members(files)) {
        const Path file = dir / native_from_text(name);
        ASSERT_TRUE(ensure_dir(file.parent_path()));
        ASSERT_TRUE(write_file(
            file, tarntest::lcg(static_cast<std::size_t>(std::get<double>(size.value)))));
    }
}

bool make_zip(const Path& folder, const Path& zip) {
    return tarntest::run_host_program({"/usr/bin/bsdtar", "--format", "zip", "-cf",
                                       tarntest::unix_path(zip), "-C", tarntest::unix_path(folder),
                                       "."}) == 0;
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
    tarntest::InstallSandbox box;
    tarntest::TempDir bin;
    tarntest::ScopedEnv path{"PATH", bin.path().native()};
    tarntest::ScopedEnv mode;
    const Path tar = bin.path() / ("tar" + tarntest::test_tool("fake_tar").extension().string());
    explicit ExtrasBench(const std::string& tar_mode = "")
        : mode("TARN_FAKE_TAR", native_from_text(tar_mode)) {
        fs::copy_file(tarntest::test_tool("fake_tar"), tar);
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
    if (tarntest::flag(row, "tools_file")) {
        ASSERT_TRUE(ensure_dir(bench.box.root) && write_file(bench.box.tools, ""));
    }
    fill(bench.box.tools, row.find("present"));
    fill(work, row.find("before"));
    fill(scratch / "tree", row.find("archive"));
    for (const auto& [link, target] : members(row.find("links"))) {
        const Path at = scratch / "tree" / native_from_text(link);
        ASSERT_TRUE(ensure_dir(at.parent_path()));
        ASSERT_TRUE(tarntest::make_link(at, native_from_text(std::get<std::string>(target.value))));
    }
    ASSERT_TRUE(!fs::exists(scratch / "tree") || make_zip(scratch / "tree", zip));
    // The publishers' checksums of what the row serves, behind its own behaviours.
    std::string zip_bytes, yt_dlp;
    (void)read_file(zip, zip_bytes);
    for (const Json& b : tarntest::items(row.find("script"))) {
        if (b.get_string("path", "") == "/yt-dlp.exe")
            yt_dlp = tarntest::pattern(b.get_int("body_size", 0));
    }
    const std::string own = row.find("script").dump(false);
    const std::string script =
        tarntest::replace_all((own == "null" ? "[" : own.substr(0, own.size() - 1) + ",") + R"(
        {"path": "/ffmpeg.zip.sha256", "body": "{zip_sha256}", "times": 0}, {"path":
        "/SHA2-256SUMS", "times": 0, "body": "{zeros}  yt-dlp\n{yt_dlp_sha256}  yt-dlp.exe\n"}])",
                              {{"{zip}", tarntest::unix_path(zip)},
                               {"{zip_sha256}", sha256_hex(zip_bytes.data(), zip_bytes.size())},
                               {"{zeros}", std::string(64, '0')},
                               {"{yt_dlp_sha256}", sha256_hex(yt_dlp.data(), yt_dlp.size())}});
    tarntest::TestServer server;
    ASSERT_TRUE(server.start(script, {"good"})) << server.last_error();
    const std::string urls[] = {server.url("/ffmpeg.zip"), server.url("/ffmpeg.zip.sha256"),
                                server.url("/yt-dlp.exe"), server.url("/SHA2-256SUMS")};
    ExtraComponent rows[] = {kExtrasCatalogue[0], kExtrasCatalogue[1]};
    rows[0].url = urls[0];
    rows[0].checksum_url = urls[1];
    rows[1].url = tarntest::flag(row, "manual") ? std::string_view() : urls[2];
    rows[1].checksum_url = urls[3];
    auto expand = [&](const std::string& t) {
        return tarntest::replace_all(
            t, {{"{base}", server.base_url()}, {"{tools}", path_text(bench.box.tools)}});
    };

    tarntest::ConsoleCapture console;
    const Error result = install_extras(bench.box, tarntest::flag(row, "refresh"), rows);
    EXPECT_EQ(error_text(result) + (result.detail.empty() ? "" : " | log: " + result.detail),
              expand(row.get_string("result", "")));
    EXPECT_EQ(tarntest::screen(console.out()), expand(lines(row.find("stdout"))));
    EXPECT_EQ(tarntest::screen(console.err(), "http"), expand(lines(row.find("stderr"))));
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
    tarntest::TempDir cwd;
    const std::map<std::string, Path> places = {{"path", bench.bin.path()},
                                                {"beside", beside},
                                                {"root", bench.box.tools},
                                                {"cwd", cwd.path() / "tools"}};
    const Path file = native_from_text(row.get_string("file", ""));
    for (const auto& [place, folder] : places) {
        if (("," + row.get_string("places", "") + ",").find("," + place + ",") == std::string::npos)
            continue;
        ASSERT_TRUE(ensure_dir((folder / file).parent_path()));
        if (tarntest::flag(row, "cut")) {
            ASSERT_TRUE(write_file(folder / file, std::string(1024, 'x')));
        } else {
            fs::copy_file(bench.tar, folder / file);
        }
    }
    const tarntest::ScopedCurrentDir here(cwd.path());
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

}  // namespace
}  // namespace tarncore::discordvoice
