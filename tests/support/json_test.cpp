#include "support/json.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/common/error_text.h"

namespace tarncore {
namespace {

using Row = std::pair<std::string, std::string>;

// The error as one line, "ok" on success; a failure must also return Null.
std::string parse_error(std::string_view text) {
    Error error(9, "stale", "stale", "stale");
    Json value = Json::parse(text, error);
    if (error.ok()) return error.message.empty() ? "ok" : "stale message kept";
    EXPECT_EQ(value.kind, JsonKind::Null) << text;
    return tarntest::error_text(error);
}

Json parsed(const std::string& text) {
    Error error;
    Json v = Json::parse(text, error);
    EXPECT_TRUE(error.ok()) << text << ": " << error.message;
    return v;
}

TEST(JsonParse, ReportsReasonAndOffset) {
    const std::size_t limit = Json::kMaxDepth;
    std::string objects;
    for (std::size_t i = 0; i <= limit; ++i) objects += "{\"k\":";
    const std::string inner = std::string(limit - 1, '[') + std::string(limit - 1, ']');
    const std::tuple<std::string, const char*, std::size_t> cases[] = {
        {"", "Unexpected character", 0}, {" \t\n\v\f\r", "Unexpected character", 6},
        {"\xEF\xBB\xBF", "Unexpected character", 3},
        {"01", "Unexpected trailing data after JSON value", 1},
        {"[01]", "Expected ',' or ']' in array", 2},
        {"-", "Invalid number", 1}, {"-a", "Invalid number", 1},
        {"1.", "Invalid fractional number", 2},
        {"1e+", "Invalid exponent", 3}, {"2E", "Invalid exponent", 2},
        {"1e400", "Number out of range", 5}, {"\"abc", "Unterminated string", 4},
        {"\"a\\", "Unterminated string", 3}, {"\"\\x\"", "Invalid escape sequence", 3},
        {"\"\\u12\"", "Truncated unicode escape", 3}, {"\"\\u12g4\"", "Invalid unicode escape", 6},
        {"tru", "Invalid boolean literal", 0}, {" fals", "Invalid boolean literal", 1},
        {"nul", "Invalid null literal", 0},
        {"truex", "Unexpected trailing data after JSON value", 4},
        {"[1,]", "Unexpected character", 3}, {"[1", "Expected ',' or ']' in array", 2},
        {"{\"a\":1,}", "Expected string", 8}, {"{1:2}", "Expected string", 2},
        {"{\"a\" 1}", "Expected ':' after object key", 5},
        {"{\"a\":1 ", "Expected ',' or '}' in object", 7},
        {"{\"a\":1;}", "Expected ',' or '}' in object", 6},
        {"{} x", "Unexpected trailing data after JSON value", 3}, {"@", "Unexpected character", 0},
        {std::string(limit, '[') + std::string(limit, ']'), "", 0},
        {std::string(limit + 1, '[') + std::string(limit + 1, ']'), "Nesting too deep", limit},
        {std::string(100000, '['), "Nesting too deep", limit},
        {objects, "Nesting too deep", 5 * limit},
        {"[" + inner + "," + inner + "]", "", 0},  // siblings do not add up
    };
    for (const auto& [text, reason, at] : cases) {
        EXPECT_EQ(parse_error(text), *reason ? "5 json Json.parse: " + std::string(reason) +
                                                   " at position " + std::to_string(at)
                                             : "ok")
            << text.substr(0, 40);
    }
}

TEST(JsonParse, Numbers) {
    const std::tuple<const char*, bool, std::int64_t, double> cases[] = {
        {"0", true, 0, 0.0}, {"-0", true, 0, 0.0}, {"42", true, 42, 42.0}, {"1.5", false, 0, 1.5},
        {"-1E-2", false, 0, -0.01}, {"1.0", false, 0, 1.0},
        {"12345678901234567890", false, 0, 1.2345678901234567e19},
        {"-9223372036854775808", true, INT64_MIN, -9223372036854775808.0},
        {"9223372036854775807", true, INT64_MAX, 9223372036854775807.0}};
    for (const auto& [text, is_integer, integer, number] : cases) {
        const Json v = parsed(text);
        ASSERT_EQ(v.kind, JsonKind::Number) << text;
        EXPECT_EQ(v.is_integer, is_integer) << text;
        EXPECT_EQ(v.integer, integer) << text;
        EXPECT_EQ(std::get<double>(v.value), number) << text;
    }
}

TEST(JsonParse, StringsDecodeToBytes) {
    const Row cases[] = {
        {"\"\\u00e9\"", "\xC3\xA9"},
        {"\"\\uD83D\\uDE00\"", "\xED\xA0\xBD\xED\xB8\x80"},  // surrogates kept apart
        {"\"\\u0041\"", "A"}, {"\"a\\u0000b\"", std::string("a\0b", 3)},
        {"\"\\u0800\"", "\xE0\xA0\x80"}, {"\"\\u07FF\"", "\xDF\xBF"},
        {"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\\/\b\f\n\r\t"}, {"\"\x01\xFF\"", "\x01\xFF"},
        {"\xEF\xBB\xBF \"x\"", "x"},
    };
    for (const auto& [text, expected] : cases) {
        const Json v = parsed(text);
        ASSERT_EQ(v.kind, JsonKind::String) << text;
        EXPECT_EQ(std::get<std::string>(v.value), expected) << text;
    }
}

TEST(JsonDump, CompactAndPretty) {
    const Row compact[] = {
        {"{\"b\":1,\"a\":2}", "{\"a\":2,\"b\":1}"},
        {"{\"a\":1,\"a\":2}", "{\"a\":1}"},  // first duplicate wins
        {"{\"ab\":1,\"a\":2}", "{\"a\":2,\"ab\":1}"},
        {"{\"\xC3\":1,\"z\":2}", "{\"z\":2,\"\xC3\":1}"},  // high bytes sort after ascii
        {" [ 1 , true , null , \"s\" , { } , [ ] ] ", "[1,true,null,\"s\",{},[]]"},
        {"0.1", "0.10000000000000001"}, {"1.0", "1"}, {"1e21", "1e+21"},
        {"-9223372036854775808", "-9223372036854775808"},
        {"\"\\u001f\\u0001\"", "\"\\u001f\\u0001\""}, {"\"a\\/b\"", "\"a/b\""},
        {"\"\\b\\t\\n\\f\\r\\\"\\\\\"", "\"\\b\\t\\n\\f\\r\\\"\\\\\""},
        {"\"\x7F\xC3\xA9\"", "\"\x7F\xC3\xA9\""},
    };
    for (const auto& [text, expected] : compact) EXPECT_EQ(parsed(text).dump(false), expected);
    const Row pretty[] = {
        {"{\"b\":{},\"a\":[1,2]}", "{\n  \"a\": [\n    1,\n    2\n  ],\n  \"b\": {}\n}"},
        {"[]", "[]"}, {"\"x\"", "\"x\""}, {"[{\"k\":null}]", "[\n  {\n    \"k\": null\n  }\n]"},
    };
    for (const auto& [text, expected] : pretty) EXPECT_EQ(parsed(text).dump(true), expected);
}

TEST(JsonLookup, FallsBackOnWrongKinds) {
    const Json record = parsed("{\"p\":3.9,\"n\":-3.9,\"i\":7,\"s\":\"text\",\"z\":null}");
    const Json array = parsed("[1]");
    std::string ints;
    for (const char* key : {"p", "n", "i", "s", "z", "missing"}) {
        ints += std::to_string(record.get_int(key, -1)) + " ";
    }
    EXPECT_EQ(ints + std::to_string(array.get_int("p", -1)), "3 -3 7 -1 -1 -1 -1");
    EXPECT_EQ(record.get_string("s", "fb") + record.get_string("i", "fb") +
                  record.get_string("missing", "fb") + array.get_string("s", "fb"),
              "textfbfbfb");
    EXPECT_EQ(&record.find("missing"), &array.find("x")) << "one shared Null";
    EXPECT_EQ(record.find("missing").kind, JsonKind::Null);
}

TEST(JsonBuild, SubscriptAndConstructors) {
    Json record(true);
    record["version"] = "1.2";
    record["path"] = std::string("/opt/t");
    record["list"] = Json(Json::Array{Json(1.5), Json(false), Json()});
    record["version"] = Json(2.0);  // replacement must reset every member
    EXPECT_EQ(record.dump(false), "{\"list\":[1.5,false,null],\"path\":\"/opt/t\",\"version\":2}");
    EXPECT_EQ(Json("x").kind, JsonKind::String) << "a C string is no bool";
    EXPECT_EQ(Json(Json::Object{}).kind, JsonKind::Object);
    Json number = parsed("5");
    number = Json("s");
    EXPECT_FALSE(number.is_integer);
    EXPECT_EQ(number.integer, 0);
}

}  // namespace
}  // namespace tarncore
