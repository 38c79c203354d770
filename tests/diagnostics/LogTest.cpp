// The log file: location, appending, record cut, brace handling, escaped
// control characters, rotation and the records that arrive before the log is
// open or after it is closed; and the bounded JSON text of trace lines.

#include <gtest/gtest.h>
#include <spdlog/logger.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/BoundedJson.h"
#include "diagnostics/Log.h"
#include "diagnostics/LogText.h"
#include "diagnostics/Platform.h"
#include "diagnostics/TextParsing.h"

namespace fs = std::filesystem;

namespace {

// The file's text with Windows line ends turned into "\n".
std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    std::string text = content.str();
    std::string lines;
    for (char c : text) {
        if (c != '\r') lines += c;
    }
    return lines;
}

// Each test runs in a fresh working directory, as the plug-in runs in its own folder.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = fs::current_path();
        std::random_device random;
        m_directory = fs::temp_directory_path() / ("kestrel-log-test-" + std::to_string(random()));
        fs::create_directories(m_directory);
        fs::current_path(m_directory);
    }
    void TearDown() override {
        StopLogging();
        fs::current_path(m_previous);
        std::error_code ignored;
        fs::remove_all(m_directory, ignored);
    }
    fs::path LogFile() const { return m_directory / "logs" / "rotating.txt"; }

    fs::path m_previous;
    fs::path m_directory;
};

TEST_F(LogTest, WritesEveryLevelToTheRotatingFileBesideTheWorkingDirectory) {
    ASSERT_NE(StartLogging(), nullptr);
    LogTrace("trace %d", 1);
    LogWarning("warning %s", "two");
    LogError("error %u", 3u);
    LogCritical("critical %x", 0xc0000005u);
    std::string content = ReadFile(LogFile());
    EXPECT_NE(content.find("[root] [trace] trace 1"), std::string::npos) << content;
    EXPECT_NE(content.find("[root] [warning] warning two"), std::string::npos);
    EXPECT_NE(content.find("[root] [error] error 3"), std::string::npos);
    EXPECT_NE(content.find("[root] [critical] critical c0000005"), std::string::npos);
}

TEST_F(LogTest, KeepsBracesAndCutsLongRecordsTo8191Characters) {
    ASSERT_NE(StartLogging(), nullptr);
    LogTrace("doc %s", "{\"a\":{}} {} {0}");
    std::string longText(10000, 'x');
    LogTrace("%s", longText.c_str());
    std::string content = ReadFile(LogFile());
    EXPECT_NE(content.find("doc {\"a\":{}} {} {0}\n"), std::string::npos) << content;
    EXPECT_NE(content.find(" " + std::string(8191, 'x') + "\n"), std::string::npos);
    EXPECT_EQ(content.find(std::string(8192, 'x')), std::string::npos);
}

TEST_F(LogTest, ControlCharactersAreEscapedSoThatEveryRecordIsOneLine) {
    ASSERT_NE(StartLogging(), nullptr);
    LogTrace("OnMessage: %s",
             "x\n2026-12-07 10:00:00.000] [root] [critical] Unhandled exception: c0000005\r\n");
    LogTrace("tab\there, eof\x1a, del\x7f, NEL\xc2\x85 LS\xe2\x80\xa8 h\xc3\xa9");
    // Escaping makes a record longer; it is cut afterwards, never inside an escape.
    LogTrace("%s", std::string(3000, '\x01').c_str());
    StopLogging();
    const std::string content = ReadFile(LogFile());
    std::vector<std::string> lines;
    std::istringstream stream(content);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u) << content;
    // Each line is one trace record, whatever its text pretends.
    for (const auto& line : lines) EXPECT_EQ(line.find("[root] ["), line.find("[root] [trace] ")) << line;
    EXPECT_NE(lines[0].find("[trace] OnMessage: x\\n2026-12-07 10:00:00.000] [root] [critical] Unhandled "
                            "exception: c0000005\\r\\n"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("tab\\there, eof\\x1a, del\\x7f, NEL\\u0085 LS\\u2028 h\xc3\xa9"),
              std::string::npos)
        << lines[1];
    const std::string escapes = lines[2].substr(lines[2].find("[trace] ") + 8);
    EXPECT_EQ(escapes.size(), 8188u);  // 2047 whole escapes of four characters
    EXPECT_EQ(escapes.substr(escapes.size() - 8), "\\x01\\x01");
}

TEST(LogTextTest, JsonIsWrittenAsTheLibraryWritesItUpToTheLimit) {
    const nlohmann::json document = nlohmann::json::parse(
        R"({"b":[1,-2.5,true,null,{}],"a":"q\"\\\n\t\u0001\u00e9","c":{"d":[[]]},"e":1e300})");
    EXPECT_EQ(LogText::Json(document), document.dump());
    EXPECT_EQ(LogText::Json(document, 10), document.dump().substr(0, 10));
    EXPECT_EQ(LogText::Json(nlohmann::json("x")), "\"x\"");

    // A megabyte string is cut at the record limit.
    const std::string text = LogText::Json({{"filler", std::string(1 << 20, 'k')}});
    EXPECT_EQ(text.size(), LogText::kMaxRecordLength);
    EXPECT_EQ(text.substr(0, 12), "{\"filler\":\"k");
}

TEST(LogTextTest, DocumentsNestedPastTheBoundAreWrittenWithoutRecursingIntoThem) {
    // Built in place (a copy or dump of it would recurse 100 000 levels).
    nlohmann::json document = nlohmann::json::object();
    nlohmann::json* level = &document;
    for (int i = 0; i < 100000; ++i) level = &((*level)["a"] = nlohmann::json::object());
    const std::string text = LogText::Json(document);
    std::string expected;
    for (size_t i = 0; i < BoundedJson::kMaxDepth; ++i) expected += "{\"a\":";
    expected += "{...}" + std::string(BoundedJson::kMaxDepth, '}');
    EXPECT_EQ(text, expected);
}

// A POSIX file name may be any bytes; the log shows it and stays UTF-8.
TEST(LogTextTest, BytesOutsideWellFormedUtf8AreEscapedAndCharactersAreNeverCut) {
    auto escape = [](const std::string& text, size_t limit = LogText::kMaxRecordLength) {
        return LogText::EscapeControls(text.data(), text.size(), limit);
    };
    EXPECT_EQ(escape("/opt/kestrel-\xff\xfe/state_offline.png"), "/opt/kestrel-\\xff\\xfe/state_offline.png");
    // Two, three and four byte characters stay as they are.
    EXPECT_EQ(escape("J\xc3\xbcrgen \xe6\xa1\x9c \xf0\x9f\x90\xa6"),
              "J\xc3\xbcrgen \xe6\xa1\x9c \xf0\x9f\x90\xa6");
    // An overlong slash, a surrogate, a code point past U+10FFFF, a stray
    // continuation byte and a character cut short are bytes, not text.
    EXPECT_EQ(escape("\xc0\xaf|\xed\xa0\x80|\xf4\x90\x80\x80|\x80|\xe2\x82"),
              "\\xc0\\xaf|\\xed\\xa0\\x80|\\xf4\\x90\\x80\\x80|\\x80|\\xe2\\x82");
    EXPECT_TRUE(IsUtf8(escape("\xe2\x82\xac\xe2\x82")));
    // The limit falls inside a character: the character is left out whole.
    EXPECT_EQ(escape("ab\xc3\xa9", 3), "ab");
}

TEST_F(LogTest, SecondRunAppendsToTheSameFile) {
    ASSERT_NE(StartLogging(), nullptr);
    LogTrace("first run");
    StopLogging();
    ASSERT_NE(StartLogging(), nullptr);
    LogTrace("second run");
    std::string content = ReadFile(LogFile());
    auto first = content.find("first run");
    ASSERT_NE(first, std::string::npos);
    EXPECT_GT(content.find("second run"), first);
}

TEST_F(LogTest, RecordsOutsideTheOpenLogAreDropped) {
    LogTrace("before start");
    ASSERT_NE(StartLogging(), nullptr);
    LogTrace("while open");
    StopLogging();
    LogTrace("after stop");
    LogCritical("after stop %s", "critical");
    std::string content = ReadFile(LogFile());
    EXPECT_EQ(content.find("before start"), std::string::npos);
    EXPECT_NE(content.find("while open"), std::string::npos);
    EXPECT_EQ(content.find("after stop"), std::string::npos);
}

TEST_F(LogTest, LogThatCannotBeCreatedDropsRecordsQuietly) {
    // A file where the "logs" directory should be makes the log file impossible.
    std::ofstream("logs") << "not a directory";
    EXPECT_EQ(StartLogging(), nullptr);
    LogTrace("goes nowhere");
    LogError("goes nowhere %d", 1);
}

TEST_F(LogTest, RotatesAtFiveMebibytesKeepingThreeFiles) {
    ASSERT_NE(StartLogging(), nullptr);
    std::string record(8000, 'r');
    // About 22 MB: enough for more rotations than are kept.
    for (int i = 0; i < 2750; ++i) LogTrace("%s", record.c_str());
    StopLogging();
    EXPECT_TRUE(fs::exists(m_directory / "logs" / "rotating.txt"));
    EXPECT_TRUE(fs::exists(m_directory / "logs" / "rotating.1.txt"));
    EXPECT_TRUE(fs::exists(m_directory / "logs" / "rotating.2.txt"));
    EXPECT_TRUE(fs::exists(m_directory / "logs" / "rotating.3.txt"));
    EXPECT_FALSE(fs::exists(m_directory / "logs" / "rotating.4.txt"));
    EXPECT_LE(fs::file_size(m_directory / "logs" / "rotating.1.txt"), 5242880u);
}

// Records hold every host message, settings included: the log files are the
// user's alone, also one an earlier version left readable by others and the
// new file each rotation opens.
TEST_F(LogTest, LogFilesAreReadableByTheUserAlone) {
    if (KESTREL_WIN32) GTEST_SKIP() << "the log lies in the user's profile and takes its permissions";
    const fs::perms ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
    fs::create_directory(m_directory / "logs");
    std::ofstream(LogFile()) << "an earlier run\n";
    fs::permissions(LogFile(), ownerOnly | fs::perms::group_read | fs::perms::others_read);
    ASSERT_NE(StartLogging(), nullptr);
    LogTrace("first");
    EXPECT_EQ(fs::status(LogFile()).permissions() & fs::perms::all, ownerOnly);
    std::string record(8000, 'r');
    for (int i = 0; i < 700; ++i) LogTrace("%s", record.c_str());  // one rotation
    StopLogging();
    ASSERT_TRUE(fs::exists(m_directory / "logs" / "rotating.1.txt"));
    for (const char* name : {"rotating.txt", "rotating.1.txt"}) {
        EXPECT_EQ(fs::status(m_directory / "logs" / name).permissions() & fs::perms::all, ownerOnly) << name;
    }
}

TEST(TextParsingTest, ReadsLikeAtoiAndSaturates) {
    EXPECT_EQ(ParseLeadingInt("28196"), 28196);
    EXPECT_EQ(ParseLeadingInt("  \t-42abc"), -42);
    EXPECT_EQ(ParseLeadingInt("+7"), 7);
    EXPECT_EQ(ParseLeadingInt("12ab34"), 12);
    EXPECT_EQ(ParseLeadingInt("abc"), 0);
    EXPECT_EQ(ParseLeadingInt(""), 0);
    EXPECT_EQ(ParseLeadingInt("- 5"), 0);
    EXPECT_EQ(ParseLeadingInt("99999999999999999999"), 2147483647);
    EXPECT_EQ(ParseLeadingInt("-99999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(ParseLeadingInt("-2147483648"), -2147483647 - 1);
}

}  // namespace
