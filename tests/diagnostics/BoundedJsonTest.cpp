#include "diagnostics/BoundedJson.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Nested(size_t depth, const std::string& inner = "1") {
    return std::string(depth, '[') + inner + std::string(depth, ']');
}

TEST(BoundedJsonTest, RefusesTextNestedPastTheLimitWithoutParsingIt) {
    nlohmann::json out;
    std::string reason;
    EXPECT_TRUE(BoundedJson::Parse(Nested(BoundedJson::kMaxDepth), out, reason));
    EXPECT_FALSE(BoundedJson::Parse(Nested(BoundedJson::kMaxDepth + 1), out, reason));
    EXPECT_EQ(reason, "nested deeper than 64 levels");
    EXPECT_TRUE(out.is_null());
    // Deep enough to exhaust the stack if it were parsed and copied; an
    // unterminated one is refused the same way.
    EXPECT_FALSE(BoundedJson::Parse(std::string(200000, '{'), out, reason));
    EXPECT_FALSE(BoundedJson::Parse("{\"a\":" + Nested(100000), out, reason));
}

TEST(BoundedJsonTest, BracketsInsideStringsDoNotCount) {
    nlohmann::json out;
    std::string reason;
    const std::string text = "{\"title\":\"" + std::string(1000, '[') + "\\\"{{{\"}";
    ASSERT_TRUE(BoundedJson::Parse(text, out, reason)) << reason;
    EXPECT_EQ(out["title"].get<std::string>().size(), 1004u);
}

TEST(BoundedJsonTest, ReportsTheParserErrorForTextThatIsNotJson) {
    nlohmann::json out = 5;
    std::string reason;
    EXPECT_FALSE(BoundedJson::Parse("{\"a\":", out, reason));
    EXPECT_TRUE(out.is_null());
    EXPECT_NE(reason.find("parse_error"), std::string::npos) << reason;
}

TEST(BoundedJsonTest, DepthIsCountedAlongEachPathNotAcrossSiblings) {
    nlohmann::json out;
    std::string reason;
    // A hundred siblings each at the limit: every closing bracket gives its level back.
    std::string siblings = "[";
    for (int i = 0; i < 100; ++i) siblings += (i ? "," : "") + Nested(BoundedJson::kMaxDepth - 1);
    siblings += "]";
    ASSERT_TRUE(BoundedJson::Parse(siblings, out, reason)) << reason;
    EXPECT_EQ(out.size(), 100u);
    const std::string objects = "[{\"a\":" + Nested(BoundedJson::kMaxDepth - 2) +
                                "},{\"b\":" + Nested(BoundedJson::kMaxDepth - 2) + "}]";
    EXPECT_TRUE(BoundedJson::Parse(objects, out, reason)) << reason;
    EXPECT_FALSE(BoundedJson::Parse("[{\"a\":" + Nested(BoundedJson::kMaxDepth - 1) + "}]", out, reason));
    EXPECT_EQ(reason, "nested deeper than 64 levels");
}

TEST(BoundedJsonTest, ParsesAsTheLibraryDoesAndRefusesWithItsMessage) {
    const std::vector<std::string> valid = {R"({"a":[1,2.5,-3,"x",null,true,{}],"b":{"c":"\u00e9\"["}})",
                                            "1",
                                            R"("s")",
                                            "18446744073709551615",
                                            "-9223372036854775808",
                                            "1e308",
                                            " [ ] ",
                                            "{}"};
    for (const std::string& text : valid) {
        nlohmann::json out;
        std::string reason;
        ASSERT_TRUE(BoundedJson::Parse(text, out, reason)) << text << ": " << reason;
        EXPECT_EQ(out, nlohmann::json::parse(text)) << text;
    }
    const std::vector<std::string> invalid = {"",         "{",         R"({"a":1} x)", "[1,]", "1e999",
                                              "\"\xff\"", "{\"a\" 1}", "[1 2]",        "nul",  "[\"\\q\"]"};
    for (const std::string& text : invalid) {
        nlohmann::json out = 5;
        std::string reason;
        std::string expected;
        try {
            const nlohmann::json parsed = nlohmann::json::parse(text);
            ADD_FAILURE() << text << " parsed as " << parsed.dump();
        } catch (const nlohmann::json::exception& error) {
            expected = error.what();
        }
        ASSERT_FALSE(expected.empty()) << text;
        EXPECT_FALSE(BoundedJson::Parse(text, out, reason)) << text;
        EXPECT_TRUE(out.is_null()) << text;
        EXPECT_EQ(reason, expected) << text;
    }
}

}  // namespace
