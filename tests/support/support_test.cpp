#include <gtest/gtest.h>

#include <sstream>

#include "support/ascii.h"
#include "support/download_meter.h"
#include "support/json.h"
#include "support/layout.h"
#include "support/logger.h"
#include "support/output.h"
#include "support/clock.h"
#include "support/version.h"
#include "tests/common/console_capture.h"
#include "tests/common/install_sandbox.h"
#include "tests/common/test_data.h"

namespace tarncore {
namespace {

using platform::DownloadMeter;
using namespace tarntest;

// seed: a file of the JSON fuzzer's seeds; error: its parse error, or
// compact: the compact form ("=": the seed itself); pretty: the pretty form.
TARN_ROWS(JsonSeed, "support/json.json", "");
TEST_P(JsonSeed, ParsesAndWrites) {
    const std::string text =
        file_bytes(source_path("tests/data/seeds/json_fuzz/" + row.get_string("seed", "")));
    Error error(9, "stale", "stale", "stale");
    const Json value = Json::parse(text, error);
    const std::string compact = unescape(row.get_string("compact", ""));
    EXPECT_EQ(error.failed() ? error_text(error) : "= " + value.dump(false),
              row.find("error").kind == JsonKind::String
                  ? "5 json Json.parse: " + row.get_string("error", "")
                  : "= " + (compact == "=" ? text : compact));
    EXPECT_TRUE(error.ok() || value.kind == JsonKind::Null);
    if (row.find("pretty").kind == JsonKind::String) {
        EXPECT_EQ(value.dump(true), row.get_string("pretty", ""));
    }
}

TEST(Json, LookupsFallBackAndAssignmentReplacesEverything) {
    Error error;
    const Json record = Json::parse(R"({"p":3.9,"n":-3.9,"i":7,"s":"text","z":null})", error);
    std::string got;
    for (const char* key : {"p", "n", "i", "s", "z", "missing"}) {
        got += std::to_string(record.get_int(key, -1)) + record.get_string(key, "/") + " ";
    }
    const Json array = Json::parse("[1]", error);
    EXPECT_EQ(got + std::to_string(array.get_int("p", -1)), "3/ -3/ 7/ -1text -1/ -1/ -1");
    EXPECT_EQ(&record.find("missing"), &array.find("x")) << "one shared Null";
    Json built = Json::parse("5", error);  // becomes an object
    built["n"] = Json::parse("7", error);
    built["n"] = Json(2.5);  // no longer an integer
    built["s"] = "s";        // a C string is no bool
    EXPECT_EQ(built.dump(false), R"({"n":2.5,"s":"s"})");
}

// text: what is parsed; parsed: major.minor.patch, then " invalid" when it is no version.
TARN_ROWS(VersionParse, "support/versions.json", "parse");
TEST_P(VersionParse, ParsesAndJudges) {
    const std::string text = row.get_string("text", "");
    const Version v = parse_version(text);
    EXPECT_EQ(std::to_string(v.major) + "." + std::to_string(v.minor) + "." +
                  std::to_string(v.patch) + (is_valid_version(text) ? "" : " invalid"),
              row.get_string("parsed", ""));
}

// a, b: two versions; order: how a compares with b (-1, 0, 1).
TARN_ROWS(VersionOrder, "support/versions.json", "order");
TEST_P(VersionOrder, Orders) {
    EXPECT_EQ(compare_versions(parse_version(row.get_string("a", "")),
                               parse_version(row.get_string("b", ""))),
              row.get_int("order", 9));
}

// name: the level's name; level: its number; stream: where its lines go
// (out, err or none). ERROR lines are logged without a module.
TARN_ROWS(LoggerLevel, "support/log_levels.json", "");
TEST_P(LoggerLevel, NamesRoutesAndStamps) {
    const auto level = static_cast<tarncore::LogLevel>(row.get_int("level", -1));
    const std::string name = row.get_string("name", ""), stream = row.get_string("stream", ""),
                      module = name == "ERROR" ? "" : "http";
    EXPECT_EQ(log_level_name(level), name);
    ConsoleCapture console;
    const std::string before = local_timestamp();
    Logger::instance().log(level, module, "m\n1");
    const std::string after = local_timestamp(),
                      text = stream == "out" ? console.out() : console.err();
    EXPECT_EQ(console.out() + console.err(), stream == "none" ? "" : text);
    if (stream == "none") return;
    EXPECT_TRUE(before <= text.substr(1, 19) && text.substr(1, 19) <= after) << text;
    EXPECT_EQ(text.substr(0, 1) + text.substr(20), "[] [" + name + "] [" + module + "] m?1\n");
}

// text: from a server; shown: as it reaches the console (\xHH: that byte).
TARN_ROWS(ConsoleSafe, "support/console_safe.json", "");
TEST_P(ConsoleSafe, ControlsBecomeQuestionMarks) {
    EXPECT_EQ(console_safe(unescape(row.get_string("text", ""))),
              unescape(row.get_string("shown", "")));
}

TEST(Layout, RootFollowsLocalAppDataAndItsLengthLimit) {
    TempDir tmp;
    for (const std::size_t length : {259u, 260u, 0u}) {
        NativeString value = (tmp.path() / "").native();
        value.resize(length, 'a');
        const Layout layout = layout_for(value);
        EXPECT_EQ(layout.root, length == 259 ? Path(value) / "Tarnwick" : Path()) << length;
        EXPECT_EQ(layout.install_record, layout.root / "config" / "install.json");
    }
    EXPECT_EQ(layout_for(std::nullopt).root, Path());
}

// None of them throws, on a folder, a device, a read-only file or a missing one;
// the program finds its own path.
TEST(Layout, FileHelpersReportFailureAndNeverThrow) {
    TempDir tmp;
    const Path file = tmp.path() / "a" / "f.bin", copy = tmp.path() / "c" / "d" / "copy.bin";
    EXPECT_TRUE(ensure_dir(file.parent_path()) && ensure_dir(file.parent_path()));
    const std::string bytes("one\r\ntwo\0three\n", 15);
    ASSERT_TRUE(write_file(file, bytes));
    EXPECT_EQ(file_bytes(file), bytes) << "binary mode keeps every byte";
    ASSERT_TRUE(copy_with_parents(file, copy));
    ASSERT_TRUE(write_file(file, "short"));
    ASSERT_TRUE(copy_with_parents(file, copy));
    EXPECT_EQ(file_bytes(copy), "short") << "an existing target is truncated or replaced";
    set_read_only(copy, true);
    std::string text = "kept";
    for (const Path& bad : {tmp.path(), tmp.path() / "absent"}) {
        EXPECT_FALSE(read_file(bad, text)) << bad;
        EXPECT_FALSE(bad != tmp.path() / "absent" && write_file(bad, "x")) << bad;
        EXPECT_FALSE(copy_with_parents(bad, tmp.path() / "x" / "y")) << bad;
    }
    EXPECT_EQ(text, "kept");
    EXPECT_FALSE(write_file(copy, "x") || write_file(tmp.path() / "nowhere" / "f", "x"));
    set_read_only(copy, false);
    EXPECT_EQ(executable_path().stem(), Path("support_tests"));
}

// The download meter, driven by an injected clock and output stream: [size,
// bytes, the size as shown] or [bar, received, total (-1 unknown), the
// bar of 22 cells].
TARN_ROWS(MeterPart, "support/download_meter.json", "parts");
TEST_P(MeterPart, Formats) {
    const std::int64_t bytes = std::stoll(text_at(row, 1));
    EXPECT_EQ(text_at(row, 0) == "size"
                  ? DownloadMeter::format_size(bytes)
                  : DownloadMeter::render_bar(bytes, std::stoll(text_at(row, 2)), 22),
              text_at(row, items(row).size() - 1));
}

// name; calls: on one meter in order, [op, clock ms, arguments..., the exact
// bytes the call writes]; op update (received, total), status or finish (text).
TARN_ROWS(Meter, "support/download_meter.json", "meters");
TEST_P(Meter, DrawsEachCallExactly) {
    std::ostringstream out;
    std::int64_t now = 0;
    DownloadMeter meter{out, [&now] { return now; }};
    for (const Json& call : items(row.find("calls"))) {
        SCOPED_TRACE(call.dump(false));
        const std::string op = text_at(call, 0);
        now = std::stoll(text_at(call, 1));
        out.str("");
        if (op == "update")
            meter.update(std::stoll(text_at(call, 2)), std::stoll(text_at(call, 3)));
        if (op == "status") meter.show_status(text_at(call, 2));
        if (op == "finish") meter.finish(text_at(call, 2));
        EXPECT_EQ(out.str(), text_at(call, items(call).size() - 1));
    }
}

// How the console reaches the log (redraws, padding, what came before the
// file opened, log lines cutting a line under way) the end-to-end scenarios
// compare whole; what they never reach: a log past 1 MiB keeps its last
// mebibyte from a line start, and a line without its end is written at close.
TEST(ConsoleLog, KeepsTheLastMebibyteAndAnUnendedLine) {
    TempDir dir;
    const Path log = dir.path() / "setup.log";
    const std::string kept = std::string(700000, 'b') + "\n";
    ASSERT_TRUE(write_file(log, std::string(700000, 'a') + "\n" + kept));
    ConsoleCapture console;
    open_log_file(log);
    console_out() << "last run\n        Extracting archive...";
    close_log_file();
    EXPECT_EQ(console.out(), "last run\n        Extracting archive...");
    EXPECT_EQ(file_bytes(log), kept + "last run\n        Extracting archive...\n");
}

}  // namespace
}  // namespace tarncore
