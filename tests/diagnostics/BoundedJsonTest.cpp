#include "diagnostics/BoundedJson.h"

#include <gtest/gtest.h>

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

}  // namespace
