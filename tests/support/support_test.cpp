#include <gtest/gtest.h>

#include "support/ascii.h"
#include "support/error.h"
#include "support/json.h"
#include "support/layout.h"
#include "support/logger.h"
#include "support/clock.h"
#include "support/version.h"
#include "tests/common/error_text.h"
#include "tests/common/install_sandbox.h"

namespace tarncore {
namespace {

// Each row names a seed of the JSON fuzzer, then its parse error, or "= " and
// the compact form ("= =": the seed itself), then maybe the pretty form.
TEST(Json, ParsesAndWritesTheFuzzSeeds) {
    for (const auto& row : tarntest::data_rows("support/json.txt")) {
        std::string text;
        ASSERT_TRUE(read_file(tarntest::source_path("tests/data/seeds/json_fuzz/" + row[0]), text));
        Error error(9, "stale", "stale", "stale");
        const Json value = Json::parse(text, error);
        std::string expected = row[1] == "= =" ? "= " + text : row[1];
        if (expected.rfind("= ", 0) != 0) expected = "5 json Json.parse: " + expected;
        EXPECT_EQ(error.failed() ? tarntest::error_text(error) : "= " + value.dump(false), expected)
            << row[0];
        EXPECT_TRUE(error.ok() || value.kind == JsonKind::Null) << row[0];
        EXPECT_EQ(row.size() > 2 ? value.dump(true) : "", row.size() > 2 ? row[2] : "") << row[0];
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

// Rows of two: a text and how it parses; rows of three: two texts and their order.
TEST(Version, ParsesJudgesAndOrdersTheRows) {
    for (const auto& row : tarntest::data_rows("support/versions.txt")) {
        const Version a = parse_version(row[0]);
        if (row.size() == 2) {
            EXPECT_EQ(std::to_string(a.major) + "." + std::to_string(a.minor) + "." +
                          std::to_string(a.patch) + (is_valid_version(row[0]) ? "" : " invalid"),
                      row[1])
                << "'" << row[0] << "'";
            continue;
        }
        const Version c = parse_version(row[1]);
        EXPECT_EQ(compare_versions(a, c), std::stoi(row[2])) << row[0] << " " << row[1];
    }
}

TEST(ErrorReport, FormsTheReport) {
    for (auto row : tarntest::data_rows("support/error_reports.txt")) {
        row.resize(6);
        const Error error(static_cast<std::uint32_t>(std::stoul(row[0])), row[1], row[2], row[3],
                          row[4]);
        EXPECT_EQ(format_error_report(error), row[5]) << row[0];
    }
}

TEST(Logger, NamesRoutesAndStampsEachLevel) {
    // Level, name, stream: 'o' standard output, 'e' standard error, '-' none.
    const std::tuple<int, const char*, char> cases[] = {{0, "TRACE", '-'}, {1, "DEBUG", '-'},
                                                        {2, "INFO", 'o'},  {3, "WARN", 'e'},
                                                        {4, "ERROR", 'e'}, {5, "OFF", '-'}};
    for (const auto& [level, name, stream] : cases) {
        EXPECT_EQ(log_level_name(static_cast<LogLevel>(level)), name);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const std::string before = local_timestamp();
        Logger::instance().log(static_cast<LogLevel>(level), level == 4 ? "" : "http", "m\n1");
        const std::string after = local_timestamp(), out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr(),
                          text = stream == 'o' ? out : err;
        EXPECT_EQ(out + err, stream == '-' ? "" : text) << level;
        if (stream == '-') continue;
        EXPECT_TRUE(before <= text.substr(1, 19) && text.substr(1, 19) <= after) << text;
        EXPECT_EQ(text.substr(0, 1) + text.substr(20),
                  std::string("[] [") + name + (level == 4 ? "] [] m?1\n" : "] [http] m?1\n"));
    }
}

TEST(ConsoleSafe, ControlsOfServerTextBecomeQuestionMarks) {
    for (const auto& row : tarntest::data_rows("support/console_safe.txt")) {
        EXPECT_EQ(console_safe(row[0]), row[1]);
    }
}

TEST(Layout, RootFollowsLocalAppDataAndItsLengthLimit) {
    tarntest::TempDir tmp;
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
    tarntest::TempDir tmp;
    const Path file = tmp.path() / "a" / "f.bin", copy = tmp.path() / "c" / "d" / "copy.bin";
    EXPECT_TRUE(ensure_dir(file.parent_path()) && ensure_dir(file.parent_path()));
    const std::string bytes("one\r\ntwo\0three\n", 15);
    ASSERT_TRUE(write_file(file, bytes));
    EXPECT_EQ(tarntest::file_bytes(file), bytes) << "binary mode keeps every byte";
    ASSERT_TRUE(copy_with_parents(file, copy));
    ASSERT_TRUE(write_file(file, "short"));
    ASSERT_TRUE(copy_with_parents(file, copy));
    EXPECT_EQ(tarntest::file_bytes(copy), "short") << "an existing target is truncated or replaced";
    tarntest::set_read_only(copy, true);
    std::string text = "kept";
    for (const Path& bad : {tmp.path(), tarntest::null_device(), tmp.path() / "absent"}) {
        EXPECT_FALSE(read_file(bad, text)) << bad;
        EXPECT_FALSE(bad != tmp.path() / "absent" && write_file(bad, "x")) << bad;
        EXPECT_FALSE(copy_with_parents(bad, tmp.path() / "x" / "y")) << bad;
    }
    EXPECT_EQ(text, "kept");
    EXPECT_FALSE(write_file(copy, "x") || write_file(tmp.path() / "nowhere" / "f", "x"));
    tarntest::set_read_only(copy, false);
    EXPECT_EQ(executable_path().stem(), Path("support_tests"));
}

}  // namespace
}  // namespace tarncore
