// What the crash path does with files on POSIX, where other users share the
// temporary folder and a write can fail for a real limit: the archive
// survives a failed write, follows no planted link, and report folders never
// fall back into a shared folder.

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

#include "lifetime/CrashReportArchive.h"
#include "lifetime/MiniDmpSender.h"
#include "lifetime/ZipReader.h"
#include "lifetime/ZipWriter.h"
#include "support/TemporaryDirectory.h"

namespace fs = std::filesystem;

namespace {

class CrashReportPosixTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(m_directory / "logs"); }
    void WriteLog(const std::string& name, const std::string& content) {
        std::ofstream(m_directory / "logs" / name, std::ios::binary) << content;
    }
    TemporaryDirectory m_temporary{"kestrel-crash-posix-test"};
    const fs::path m_directory = m_temporary.Path();
};

std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(generator());
    return bytes;
}

// Keeps the process's file-size limit at |bytes| while it lives; writes
// beyond it fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        signal(SIGXFSZ, m_previousHandler);
    }

private:
    rlimit m_previous{};
    sighandler_t m_previousHandler = SIG_DFL;
};

// Sets or removes an environment variable while it lives.
class EnvironmentChange {
public:
    EnvironmentChange(const char* name, const char* value) : m_name(name) {
        if (const char* previous = std::getenv(name)) m_previous = previous;
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvironmentChange() {
        if (m_previous) {
            setenv(m_name, m_previous->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }

private:
    const char* m_name;
    std::optional<std::string> m_previous;
};

// A write that fails in the middle of a log ends that entry where its data
// was last whole; the entries before and after it and the archive stay.
TEST_F(CrashReportPosixTest, AFailedWriteEndsOneEntryAndTheArchiveStaysWhole) {
    const std::string before = RandomBytes(64 * 1024, 1);  // incompressible: the archive grows with it
    const std::string failing = RandomBytes(1024 * 1024, 2);
    WriteLog("a.txt", before);
    WriteLog("b.txt", failing);
    WriteLog("c.txt", "the last log\n");
    {
        // The limit falls in the middle of b.txt's fourth 32 KiB piece.
        FileSizeLimit limit(180 * 1024);
        EXPECT_TRUE(WriteCrashReportArchive(m_directory / "report.zip", m_directory / "logs"));
    }
    ZipContents contents = ReadZip(m_directory / "report.zip");
    ASSERT_EQ(contents.error, "");
    ASSERT_EQ(contents.entries.size(), 4u);
    EXPECT_EQ(contents.entries[1].content, before);
    const std::string& kept = contents.entries[2].content;
    EXPECT_EQ(contents.entries[2].name, "kestrel-sdplugin/b.txt");
    EXPECT_GT(kept.size(), 0u);
    EXPECT_LT(kept.size(), failing.size());
    EXPECT_EQ(failing.compare(0, kept.size(), kept), 0) << "the entry holds the start of the log";
    EXPECT_EQ(contents.entries[3].content, "the last log\n");
    EXPECT_LE(fs::file_size(m_directory / "report.zip"), 180u * 1024);
}

TEST_F(CrashReportPosixTest, ArchiveFollowsNoPlantedLinkAndIsForTheUserAlone) {
    std::ofstream(m_directory / "victim.txt") << "not to be overwritten";
    fs::create_symlink(m_directory / "victim.txt", m_directory / "linked.zip");
    fs::create_symlink(m_directory / "created-through-link.txt", m_directory / "dangling.zip");
    ZipWriter zip;
    EXPECT_FALSE(zip.Open(m_directory / "linked.zip"));
    EXPECT_FALSE(zip.Open(m_directory / "dangling.zip"));
    EXPECT_FALSE(fs::exists(m_directory / "created-through-link.txt"));
    std::ifstream victim(m_directory / "victim.txt");
    std::string content((std::istreambuf_iterator<char>(victim)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "not to be overwritten");

    // A log folder entry that links elsewhere is not part of the log.
    WriteLog("rotating.txt", "own log\n");
    fs::create_symlink(m_directory / "victim.txt", m_directory / "logs" / "linked.txt");
    ASSERT_TRUE(WriteCrashReportArchive(m_directory / "report.zip", m_directory / "logs"));
    EXPECT_EQ(fs::status(m_directory / "report.zip").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    ZipContents contents = ReadZip(m_directory / "report.zip");
    ASSERT_EQ(contents.entries.size(), 2u);
    EXPECT_EQ(contents.entries[1].name, "kestrel-sdplugin/rotating.txt");
}

// Without HOME and XDG_STATE_HOME the reports go to the home folder of the
// user database, never to the shared temporary folder.
TEST_F(CrashReportPosixTest, ReportRootWithoutHomeComesFromTheUserDatabase) {
    EnvironmentChange noState("XDG_STATE_HOME", nullptr);
    EnvironmentChange noHome("HOME", nullptr);
    passwd* user = getpwuid(geteuid());
    ASSERT_NE(user, nullptr);
    fs::path root = MiniDmpSender::ReportRoot("Kestrel");
    EXPECT_EQ(root, fs::path(user->pw_dir) / ".local/state/Vantora/Kestrel/CrashReports");
    EXPECT_NE(root.string().rfind(fs::temp_directory_path().string(), 0), 0u) << root;

    EnvironmentChange home("HOME", (m_directory / "home").c_str());
    EXPECT_EQ(MiniDmpSender::ReportRoot("Kestrel"),
              m_directory / "home/.local/state/Vantora/Kestrel/CrashReports");
}

}  // namespace
