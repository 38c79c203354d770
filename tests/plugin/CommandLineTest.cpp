// The option pairs with which the host starts the plug-in.

#include <gtest/gtest.h>

#include "plugin/CommandLine.h"

namespace {

std::optional<CommandLine> Parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "kestrel-sdplugin");
    return CommandLine::Parse(static_cast<int>(arguments.size()), arguments.data());
}

TEST(CommandLineTest, AcceptsTheFourPairsInAnyOrder) {
    auto line = Parse({"-info", "{}", "-registerEvent", "registerPlugin", "-pluginUUID", "U1", "-port", "28196"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->port, 28196);
    EXPECT_EQ(line->pluginUUID, "U1");
    EXPECT_EQ(line->registerEvent, "registerPlugin");
    EXPECT_EQ(line->info, "{}");
}

TEST(CommandLineTest, ReadsThePortLikeAtoi) {
    EXPECT_EQ(Parse({"-port", "123abc", "-pluginUUID", "U", "-registerEvent", "r", "-info", "x"})->port, 123);
    EXPECT_EQ(Parse({"-port", " -7", "-pluginUUID", "U", "-registerEvent", "r", "-info", "x"})->port, -7);
    EXPECT_FALSE(Parse({"-port", "0", "-pluginUUID", "U", "-registerEvent", "r", "-info", "x"}));
    EXPECT_FALSE(Parse({"-port", "abc", "-pluginUUID", "U", "-registerEvent", "r", "-info", "x"}));
    EXPECT_FALSE(Parse({"-port", "", "-pluginUUID", "U", "-registerEvent", "r", "-info", "x"}));
}

TEST(CommandLineTest, RefusesMissingEmptyOrUnknownValues) {
    EXPECT_FALSE(Parse({"-port", "1", "-pluginUUID", "", "-registerEvent", "r", "-info", "x"}));
    EXPECT_FALSE(Parse({"-port", "1", "-pluginUUID", "U", "-registerEvent", "", "-info", "x"}));
    EXPECT_FALSE(Parse({"-port", "1", "-pluginUUID", "U", "-registerEvent", "r", "-info", ""}));
    EXPECT_FALSE(Parse({"-port", "1", "-pluginUUID", "U", "-registerEvent", "r", "-Info", "x"}));
    // A repeated option keeps its later value and leaves another one unset.
    EXPECT_FALSE(Parse({"-port", "1", "-port", "2", "-registerEvent", "r", "-info", "x"}));
    auto line = Parse({"-pluginUUID", "A", "-pluginUUID", "B", "-port", "5", "-registerEvent", "r"});
    EXPECT_FALSE(line);
}

TEST(CommandLineTest, LaterValueWins) {
    auto line = Parse({"-port", "1", "-pluginUUID", "U", "-registerEvent", "r", "-info", "x"});
    ASSERT_TRUE(line);
    std::vector<const char*> arguments = {"p", "-port", "1", "-port", "9", "-registerEvent", "r", "-info", "x"};
    EXPECT_FALSE(CommandLine::Parse(9, arguments.data()));  // no plug-in identifier
}

TEST(CommandLineTest, RefusesAnyOtherArgumentCount) {
    EXPECT_FALSE(Parse({"-port", "1", "-pluginUUID", "U", "-registerEvent", "r", "-info"}));
    EXPECT_FALSE(Parse({"-port", "1", "-pluginUUID", "U", "-registerEvent", "r", "-info", "x", "extra"}));
    EXPECT_FALSE(Parse({}));
}

TEST(CommandLineTest, TheIdentifierAndEventMustBeUtf8) {
    // Accepted byte for byte: two-, three- and four-byte characters.
    const char* const kUtf8 = "\xC3\x9C-\xE2\x82\xAC-\xF0\x9F\x98\x80";
    auto line = Parse({"-port", "1", "-pluginUUID", kUtf8, "-registerEvent", kUtf8, "-info", "x"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->pluginUUID, kUtf8);
    EXPECT_EQ(line->registerEvent, kUtf8);

    // Windows-1252 text, a stray continuation byte, a cut-off sequence, an
    // overlong '/', an encoded surrogate, a code point above U+10FFFF.
    for (const char* bad :
         {"Caf\xE9", "U\x80", "U\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"}) {
        EXPECT_FALSE(Parse({"-port", "1", "-pluginUUID", bad, "-registerEvent", "r", "-info", "x"})) << bad;
        EXPECT_FALSE(Parse({"-port", "1", "-pluginUUID", "U", "-registerEvent", bad, "-info", "x"})) << bad;
    }
    // The information document is not used, so its bytes do not matter.
    EXPECT_TRUE(Parse({"-port", "1", "-pluginUUID", "U", "-registerEvent", "r", "-info", "\xFF"}));
}

}  // namespace
