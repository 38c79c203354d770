// The log file: location, appending, record cut, brace handling, rotation and
// the records that arrive before the log is open or after it is closed.

#include <gtest/gtest.h>
#include <spdlog/logger.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "diagnostics/Log.h"
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
