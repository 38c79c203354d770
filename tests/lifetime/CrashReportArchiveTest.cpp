// The ZIP writer and the crash-report archive, read back through the central
// directory with zlib's inflate (the standard tools check the same archives
// in the check-zip-tools test).

#include <gtest/gtest.h>

#include <algorithm>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "diagnostics/Platform.h"
#include "lifetime/CrashReportArchive.h"
#include "lifetime/ZipReader.h"
#include "lifetime/ZipWriter.h"
#include "support/TemporaryDirectory.h"

namespace fs = std::filesystem;

namespace {

class ArchiveTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(m_directory / "logs"); }
    void WriteLog(const fs::path& relative, const std::string& content) {
        fs::create_directories((m_directory / "logs" / relative).parent_path());
        std::ofstream(m_directory / "logs" / relative, std::ios::binary) << content;
    }
    TemporaryDirectory m_temporary{"kestrel-zip-test"};
    const fs::path m_directory = m_temporary.Path();
};

std::string RandomBytes(size_t size) {
    std::mt19937 generator(7);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

TEST_F(ArchiveTest, WriterRoundTripsEntriesOfEverySizeWithCrcAndTheTimeOfClosing) {
    const std::string compressible(200000, 'k');
    const std::string incompressible = RandomBytes(100000);  // deflate output larger than its input
    uint16_t dosDateBefore = 0, dosTimeBefore = 0;
    ToDosDateTime(LocalTimeNow(), dosDateBefore, dosTimeBefore);

    ZipWriter zip;
    ASSERT_TRUE(zip.Open(m_directory / "a.zip"));
    EXPECT_TRUE(zip.AddEntry("empty", ""));
    EXPECT_TRUE(zip.BeginEntry("dir/compressible.txt"));
    for (size_t at = 0; at < compressible.size(); at += 70000) {
        EXPECT_TRUE(zip.Write(compressible.data() + at, std::min<size_t>(70000, compressible.size() - at)));
    }
    // Beginning the next entry closes the open one.
    EXPECT_TRUE(zip.BeginEntry("random.bin"));
    EXPECT_TRUE(zip.Write(incompressible.data(), incompressible.size()));
    EXPECT_TRUE(zip.AddEntry("caf\xc3\xa9.txt", "utf-8 name"));
    ASSERT_TRUE(zip.Close());

    ZipContents contents = ReadZip(m_directory / "a.zip");
    ASSERT_EQ(contents.error, "");
    ASSERT_EQ(contents.entries.size(), 4u);
    EXPECT_EQ(contents.entries[0].name, "empty");
    EXPECT_EQ(contents.entries[0].content, "");
    EXPECT_EQ(contents.entries[1].name, "dir/compressible.txt");
    EXPECT_EQ(contents.entries[1].content, compressible);
    EXPECT_EQ(contents.entries[2].content, incompressible);
    EXPECT_EQ(contents.entries[3].name, "caf\xc3\xa9.txt");
    EXPECT_EQ(contents.entries[3].flags & 0x0800, 0x0800) << "non-ASCII names are marked as UTF-8";
    EXPECT_EQ(contents.entries[1].flags & 0x0800, 0);
    EXPECT_LT(fs::file_size(m_directory / "a.zip"), incompressible.size() + 2000);

    uint16_t dosDateAfter = 0, dosTimeAfter = 0;
    ToDosDateTime(LocalTimeNow(), dosDateAfter, dosTimeAfter);
    for (const ZipEntry& entry : contents.entries) {
        EXPECT_EQ(entry.method, 8) << entry.name;
        uint32_t stamp = static_cast<uint32_t>(entry.dosDate) << 16 | entry.dosTime;
        EXPECT_GE(stamp, static_cast<uint32_t>(dosDateBefore) << 16 | dosTimeBefore) << entry.name;
        EXPECT_LE(stamp, static_cast<uint32_t>(dosDateAfter) << 16 | dosTimeAfter) << entry.name;
    }
}

TEST(DosTimeTest, PacksLocalTimeAndClampsYearsBefore1980) {
    std::tm local{};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 11;
    local.tm_mday = 31;
    local.tm_hour = 23;
    local.tm_min = 59;
    local.tm_sec = 59;
    uint16_t date = 0, time = 0;
    ToDosDateTime(local, date, time);
    EXPECT_EQ(date, (44 << 9) | (12 << 5) | 31);
    EXPECT_EQ(time, (23 << 11) | (59 << 5) | 29);
    local.tm_year = 70;
    ToDosDateTime(local, date, time);
    EXPECT_EQ(date >> 9, 0);
}

TEST_F(ArchiveTest, WriterRefusesWorkWithoutAnOpenArchiveOrEntry) {
    ZipWriter zip;
    EXPECT_FALSE(zip.BeginEntry("x"));
    EXPECT_FALSE(zip.Close());
    EXPECT_FALSE(zip.Open(m_directory / "missing-folder" / "a.zip"));
    ASSERT_TRUE(zip.Open(m_directory / "b.zip"));
    EXPECT_FALSE(zip.Write("x", 1));
    EXPECT_FALSE(zip.EndEntry());
    EXPECT_FALSE(zip.BeginEntry(""));
    EXPECT_TRUE(zip.Close());
    ZipContents contents = ReadZip(m_directory / "b.zip");
    EXPECT_EQ(contents.error, "");
    EXPECT_TRUE(contents.entries.empty());
}

TEST_F(ArchiveTest, HoldsTheManifestFirstThenEveryLogFileInPathOrderWithSubfolders) {
    WriteLog("rotating.txt", "line one\nline two\n");
    WriteLog("rotating.1.txt", "older\n");
    WriteLog("sub/deeper/x.txt", "nested\n");
    WriteLog("a-empty.txt", "");
    fs::create_directories(m_directory / "logs" / "empty-folder");

    ASSERT_TRUE(WriteCrashReportArchive(m_directory / "report.zip", m_directory / "logs"));
    ZipContents contents = ReadZip(m_directory / "report.zip");
    ASSERT_EQ(contents.error, "");
    std::vector<std::string> names;
    for (const auto& entry : contents.entries) names.push_back(entry.name);
    EXPECT_EQ(names, (std::vector<std::string>{
                         "manifest.ini", "kestrel-sdplugin/a-empty.txt", "kestrel-sdplugin/rotating.1.txt",
                         "kestrel-sdplugin/rotating.txt", "kestrel-sdplugin/sub/deeper/x.txt"}));
    EXPECT_EQ(contents.entries[0].content, "app=kestrel-sdplugin\ngenerator=crash_handler\nversion=1\n");
    EXPECT_EQ(contents.entries[0].content.size(), 55u);
    EXPECT_EQ(contents.entries[3].content, "line one\nline two\n");
    EXPECT_EQ(contents.entries[4].content, "nested\n");
}

// Logs go into the archive byte for byte on every platform: a CR LF stays,
// and a 0x1A (end of file to a text-mode reader) does not end the copy.
TEST_F(ArchiveTest, LogFilesAreArchivedByteForByte) {
    const std::string log =
        std::string("first\r\nbefore \x1a after the end-of-file byte\r\n") + '\0' + "last\n";
    WriteLog("rotating.txt", log);
    ASSERT_TRUE(WriteCrashReportArchive(m_directory / "report.zip", m_directory / "logs"));
    ZipContents contents = ReadZip(m_directory / "report.zip");
    ASSERT_EQ(contents.error, "");
    ASSERT_EQ(contents.entries.size(), 2u);
    EXPECT_EQ(contents.entries[1].content, log);
}

TEST_F(ArchiveTest, WriterCreatesOnlyANewArchive) {
    std::ofstream(m_directory / "taken.zip") << "someone else's file";
    ZipWriter zip;
    EXPECT_FALSE(zip.Open(m_directory / "taken.zip"));
    std::ifstream kept(m_directory / "taken.zip");
    std::string content((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "someone else's file");
}

TEST_F(ArchiveTest, EmptyOrMissingLogFolderGivesTheManifestAlone) {
    ASSERT_TRUE(WriteCrashReportArchive(m_directory / "empty.zip", m_directory / "logs"));
    ASSERT_TRUE(WriteCrashReportArchive(m_directory / "missing.zip", m_directory / "no-logs"));
    for (const char* name : {"empty.zip", "missing.zip"}) {
        ZipContents contents = ReadZip(m_directory / name);
        ASSERT_EQ(contents.error, "") << name;
        ASSERT_EQ(contents.entries.size(), 1u) << name;
        EXPECT_EQ(contents.entries[0].name, "manifest.ini");
    }
}

// The empty reserved file stays after each build (the crash report moves the
// archive away), so that no later crash is handed the same name.
TEST_F(ArchiveTest, BuildsUnderAUniqueNameInTheTemporaryFolderThatNoLaterBuildIsGiven) {
    WriteLog("rotating.txt", "x\n");
    std::vector<fs::path> archives;
    for (int i = 0; i < 20; ++i) {
        auto archive = BuildCrashReportArchive(m_directory / "logs");
        ASSERT_TRUE(archive);
        EXPECT_EQ(std::count(archives.begin(), archives.end(), *archive), 0) << *archive;
        archives.push_back(*archive);
        if (i > 0) fs::remove(*archive);  // as the crash report moves it into its folder
    }
    for (const fs::path& archive : {archives[0], archives[1]}) {
        EXPECT_EQ(archive.extension(), ".zip");
        EXPECT_EQ((fs::temp_directory_path() / archive.filename()).lexically_normal(),
                  archive.lexically_normal());
        fs::path reserved = archive;
        reserved.replace_extension();
        EXPECT_TRUE(fs::exists(reserved)) << "the reserved name was given up";
        std::error_code ignored;
        EXPECT_EQ(fs::file_size(reserved, ignored), 0u);
    }
    EXPECT_EQ(ReadZip(archives[0]).entries.size(), 2u);
    for (fs::path archive : archives) {
        std::error_code ignored;
        fs::remove(archive, ignored);
        fs::remove(archive.replace_extension(), ignored);
    }
}

}  // namespace
