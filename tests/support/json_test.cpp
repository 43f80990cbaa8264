#include "support/json.h"

#include <gtest/gtest.h>

#include "support/layout.h"
#include "tests/common/error_text.h"
#include "tests/common/test_env.h"

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
    EXPECT_EQ(got, "3/ -3/ 7/ -1text -1/ -1/ ");
    const Json array = Json::parse("[1]", error);
    EXPECT_EQ(array.get_int("p", -1), -1);
    EXPECT_EQ(&record.find("missing"), &array.find("x")) << "one shared Null";

    Json built = Json::parse("5", error);
    built["version"] = "1.2";
    built["list"] = Json(Json::Array{Json(1.5), Json(false), Json()});
    built["version"] = Json(2.0);
    EXPECT_EQ(built.dump(false), R"({"list":[1.5,false,null],"version":2})");
    Json number = Json::parse("5", error);
    number = Json("s");
    EXPECT_EQ(number.kind, JsonKind::String) << "a C string is no bool";
    EXPECT_FALSE(number.is_integer || number.integer != 0);
}

}  // namespace
}  // namespace tarncore
