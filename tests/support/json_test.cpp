#include "support/json.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace tarncore {
namespace {

std::string parse_error(std::string_view text) {
    Error error;
    Json value = Json::parse(text, error);
    if (error.ok()) return "ok";
    EXPECT_EQ(error.code, 5u) << text;
    EXPECT_EQ(error.module, "json");
    EXPECT_EQ(error.function, "Json.parse");
    EXPECT_EQ(error.traceback, "");
    EXPECT_EQ(value.kind, JsonKind::Null) << "failure must return Null";
    return error.message;
}

TEST(JsonParse, ReportsReasonAndOffset) {
    struct Case {
        const char* label;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"empty text", "", "Unexpected character at position 0"},
        {"only whitespace", " \t\n\v\f\r", "Unexpected character at position 6"},
        {"only a BOM", "\xEF\xBB\xBF", "Unexpected character at position 3"},
        {"leading zero", "01", "Unexpected trailing data after JSON value at position 1"},
        {"leading zero in array", "[01]", "Expected ',' or ']' in array at position 2"},
        {"lone minus", "-", "Invalid number at position 1"},
        {"minus then letter", "-a", "Invalid number at position 1"},
        {"dot without digits", "1.", "Invalid fractional number at position 2"},
        {"exponent without digits", "1e+", "Invalid exponent at position 3"},
        {"bare exponent", "2E", "Invalid exponent at position 2"},
        {"overflowing double", "1e400", "Number out of range at position 5"},
        {"unterminated string", "\"abc", "Unterminated string at position 4"},
        {"backslash at end", "\"a\\", "Unterminated string at position 3"},
        {"bad escape", "\"\\x\"", "Invalid escape sequence at position 3"},
        {"two hex digits", "\"\\u12\"", "Truncated unicode escape at position 3"},
        {"bad hex digit", "\"\\u12g4\"", "Invalid unicode escape at position 6"},
        {"bad true", "tru", "Invalid boolean literal at position 0"},
        {"bad false", " fals", "Invalid boolean literal at position 1"},
        {"bad null", "nul", "Invalid null literal at position 0"},
        {"glued letter", "truex", "Unexpected trailing data after JSON value at position 4"},
        {"trailing comma in array", "[1,]", "Unexpected character at position 3"},
        {"unclosed array", "[1", "Expected ',' or ']' in array at position 2"},
        {"trailing comma in object", "{\"a\":1,}", "Expected string at position 8"},
        {"key not a string", "{1:2}", "Expected string at position 2"},
        {"missing colon", "{\"a\" 1}", "Expected ':' after object key at position 5"},
        {"unclosed object", "{\"a\":1 ", "Expected ',' or '}' in object at position 7"},
        {"bad separator", "{\"a\":1;}", "Expected ',' or '}' in object at position 6"},
        {"trailing data", "{} x", "Unexpected trailing data after JSON value at position 3"},
        {"unknown start", "@", "Unexpected character at position 0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_error(c.text), c.expected) << c.label;
    }
}

TEST(JsonParse, BoundsNesting) {
    struct Case {
        const char* label;
        std::string text;
        std::string expected;
    };
    const std::size_t limit = Json::kMaxDepth;
    const Case cases[] = {
        {"arrays at the limit", std::string(limit, '[') + std::string(limit, ']'), "ok"},
        {"arrays one past", std::string(limit + 1, '[') + std::string(limit + 1, ']'),
         "Nesting too deep at position " + std::to_string(limit)},
        {"hostile depth", std::string(100000, '['),
         "Nesting too deep at position " + std::to_string(limit)},
        {"objects one past", [&] {
             std::string t;
             for (std::size_t i = 0; i <= limit; ++i) t += "{\"k\":";
             return t;
         }(),
         "Nesting too deep at position " + std::to_string(5 * limit)},
        {"siblings do not add up", "[" + std::string(limit - 1, '[') +
                                       std::string(limit - 1, ']') + "," +
                                       std::string(limit - 1, '[') +
                                       std::string(limit - 1, ']') + "]",
         "ok"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_error(c.text), c.expected) << c.label;
    }
}

TEST(JsonParse, Numbers) {
    struct Case {
        const char* text;
        bool is_integer;
        std::int64_t integer;
        double number;
    };
    const Case cases[] = {
        {"0", true, 0, 0.0},
        {"-0", true, 0, 0.0},
        {"42", true, 42, 42.0},
        {"-9223372036854775808", true, INT64_MIN, -9223372036854775808.0},
        {"9223372036854775807", true, INT64_MAX, 9223372036854775807.0},
        {"12345678901234567890", false, 0, 1.2345678901234567e19},
        {"1.5", false, 0, 1.5},
        {"2e3", false, 0, 2000.0},
        {"-1E-2", false, 0, -0.01},
        {"1.0", false, 0, 1.0},
    };
    for (const Case& c : cases) {
        Error error;
        const Json v = Json::parse(c.text, error);
        ASSERT_TRUE(error.ok()) << c.text << ": " << error.message;
        EXPECT_EQ(v.kind, JsonKind::Number) << c.text;
        EXPECT_EQ(v.value.index(), 2u) << c.text;
        EXPECT_EQ(v.is_integer, c.is_integer) << c.text;
        EXPECT_EQ(v.integer, c.integer) << c.text;
        EXPECT_EQ(std::get<double>(v.value), c.number) << c.text;
    }
}

TEST(JsonParse, StringsDecodeToBytes) {
    struct Case {
        const char* label;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"e acute", "\"\\u00e9\"", "\xC3\xA9"},
        {"surrogates kept apart", "\"\\uD83D\\uDE00\"", "\xED\xA0\xBD\xED\xB8\x80"},
        {"ascii escape", "\"\\u0041\"", "A"},
        {"nul escape", "\"a\\u0000b\"", std::string("a\0b", 3)},
        {"three byte boundary", "\"\\u0800\"", "\xE0\xA0\x80"},
        {"two byte top", "\"\\u07FF\"", "\xDF\xBF"},
        {"simple escapes", "\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", "\"\\/\b\f\n\r\t"},
        {"raw bytes kept", "\"\x01\xFF\"", "\x01\xFF"},
        {"BOM skipped", "\xEF\xBB\xBF \"x\"", "x"},
    };
    for (const Case& c : cases) {
        Error error;
        const Json v = Json::parse(c.text, error);
        ASSERT_TRUE(error.ok()) << c.label << ": " << error.message;
        ASSERT_EQ(v.kind, JsonKind::String) << c.label;
        EXPECT_EQ(std::get<std::string>(v.value), c.expected) << c.label;
    }
}

TEST(JsonRoundTrip, CompactDump) {
    struct Case {
        const char* label;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"keys sorted", "{\"b\":1,\"a\":2}", "{\"a\":2,\"b\":1}"},
        {"first duplicate wins", "{\"a\":1,\"a\":2}", "{\"a\":1}"},
        {"prefix key first", "{\"ab\":1,\"a\":2}", "{\"a\":2,\"ab\":1}"},
        {"high bytes sort after ascii", "{\"\xC3\":1,\"z\":2}", "{\"z\":2,\"\xC3\":1}"},
        {"whitespace dropped", " [ 1 , true , null , \"s\" , { } , [ ] ] ",
         "[1,true,null,\"s\",{},[]]"},
        {"fraction form", "0.1", "0.10000000000000001"},
        {"whole double", "1.0", "1"},
        {"big double", "1e21", "1e+21"},
        {"most negative", "-9223372036854775808", "-9223372036854775808"},
        {"control escape", "\"\\u001f\\u0001\"", "\"\\u001f\\u0001\""},
        {"slash unchanged", "\"a\\/b\"", "\"a/b\""},
        {"named escapes", "\"\\b\\t\\n\\f\\r\\\"\\\\\"", "\"\\b\\t\\n\\f\\r\\\"\\\\\""},
        {"DEL and high bytes raw", "\"\x7F\xC3\xA9\"", "\"\x7F\xC3\xA9\""},
    };
    for (const Case& c : cases) {
        Error error;
        const Json v = Json::parse(c.text, error);
        ASSERT_TRUE(error.ok()) << c.label << ": " << error.message;
        EXPECT_EQ(v.dump(false), c.expected) << c.label;
    }
}

TEST(JsonDump, PrettyForm) {
    struct Case {
        const char* label;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"nested", "{\"b\":{},\"a\":[1,2]}",
         "{\n  \"a\": [\n    1,\n    2\n  ],\n  \"b\": {}\n}"},
        {"empty array", "[]", "[]"},
        {"scalar", "\"x\"", "\"x\""},
        {"array of objects", "[{\"k\":null}]", "[\n  {\n    \"k\": null\n  }\n]"},
    };
    for (const Case& c : cases) {
        Error error;
        const Json v = Json::parse(c.text, error);
        ASSERT_TRUE(error.ok()) << c.label;
        EXPECT_EQ(v.dump(true), c.expected) << c.label;
    }
}

TEST(JsonLookup, FallsBackOnWrongKinds) {
    Error error;
    const Json record =
        Json::parse("{\"p\":3.9,\"n\":-3.9,\"i\":7,\"s\":\"text\",\"z\":null}", error);
    ASSERT_TRUE(error.ok());
    const Json not_object = Json::parse("[1]", error);
    ASSERT_TRUE(error.ok());

    struct IntCase {
        const Json* on;
        const char* key;
        std::int64_t expected;
    };
    const IntCase ints[] = {
        {&record, "p", 3},   {&record, "n", -3},     {&record, "i", 7},
        {&record, "s", -1},  {&record, "z", -1},     {&record, "missing", -1},
        {&not_object, "p", -1},
    };
    for (const IntCase& c : ints) {
        EXPECT_EQ(c.on->get_int(c.key, -1), c.expected) << c.key;
    }

    struct StringCase {
        const Json* on;
        const char* key;
        std::string expected;
    };
    const StringCase strings[] = {
        {&record, "s", "text"}, {&record, "i", "fb"}, {&record, "missing", "fb"},
        {&not_object, "s", "fb"},
    };
    for (const StringCase& c : strings) {
        EXPECT_EQ(c.on->get_string(c.key, "fb"), c.expected) << c.key;
    }

    EXPECT_EQ(&record.find("missing"), &not_object.find("x")) << "one shared Null";
    EXPECT_EQ(record.find("missing").kind, JsonKind::Null);
    EXPECT_EQ(record.get_string("missing", record.get_string("s", "")), "text");
}

TEST(JsonBuild, SubscriptAndConstructors) {
    Json record(true);
    record["version"] = "1.2";
    record["path"] = std::string("/opt/t");
    record["list"] = Json(Json::Array{Json(1.5), Json(false), Json()});
    record["version"] = Json(2.0);  // replacement must reset every member
    EXPECT_EQ(record.kind, JsonKind::Object);
    EXPECT_EQ(record.dump(false), "{\"list\":[1.5,false,null],\"path\":\"/opt/t\",\"version\":2}");

    struct Case {
        const char* label;
        Json value;
        JsonKind kind;
    };
    const Case cases[] = {
        {"default", Json(), JsonKind::Null},
        {"bool", Json(false), JsonKind::Bool},
        {"double", Json(3.0), JsonKind::Number},
        {"c string", Json("x"), JsonKind::String},
        {"array", Json(Json::Array{}), JsonKind::Array},
        {"object", Json(Json::Object{}), JsonKind::Object},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.kind, c.kind) << c.label;
        EXPECT_EQ(c.value.value.index(), static_cast<std::size_t>(c.kind)) << c.label;
        EXPECT_FALSE(c.value.is_integer) << c.label;
    }

    Error error;
    Json parsed = Json::parse("5", error);
    parsed = Json("s");
    EXPECT_FALSE(parsed.is_integer);
    EXPECT_EQ(parsed.integer, 0);
}

TEST(JsonParse, ResetsErrorOnSuccess) {
    Error error(9, "old", "old", "stale");
    const Json v = Json::parse("null", error);
    EXPECT_TRUE(error.ok());
    EXPECT_EQ(error.message, "");
    EXPECT_EQ(v.kind, JsonKind::Null);
}

}  // namespace
}  // namespace tarncore
