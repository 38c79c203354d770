// Crash reporting end to end: a test program registers the crash reporter as
// the plug-in does and then faults; the report folder, the log, the ZIP and
// the crash event are checked. Also the callback's answer to other codes and
// the upload of reports left by earlier runs.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "Version.h"
#include "diagnostics/Log.h"
#include "diagnostics/Platform.h"
#include "lifetime/CrashReportUploader.h"
#include "lifetime/CrashReporter.h"
#include "lifetime/ZipReader.h"
#include "support/ChildProcess.h"
#include "support/TestHttpServer.h"
#include "telemetry/MachineIdStore.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

class CrashReportingTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::random_device random;
        m_directory = fs::temp_directory_path() / ("kestrel-crash-test-" + std::to_string(random()));
        for (const char* folder : {"work/logs/sub", "state", "config", "tmp"}) {
            fs::create_directories(m_directory / folder);
        }
        m_previous = fs::current_path();
    }
    void TearDown() override {
        fs::current_path(m_previous);
        std::error_code ignored;
        fs::remove_all(m_directory, ignored);
    }

    // Runs the crash test program with telemetry pointed at |server| and
    // every folder it writes to inside the test's own directory.
    void RunCrashProgram(const std::string& fault, const TestHttpServer& server,
                         const EnvironmentOverrides& more = {}) {
        std::ofstream(m_directory / "work/logs/rotating.1.txt") << "an older log\n";
        std::ofstream(m_directory / "work/logs/sub/extra.txt") << "in a subfolder\n";
        std::string tmp = (m_directory / "tmp").string();
        EnvironmentOverrides environment = {
            {"KESTREL_TELEMETRY", std::nullopt},
            {"DO_NOT_TRACK", std::nullopt},
            {"KESTREL_TELEMETRY_URL", server.Url("/science/insert/kestrel")},
            {"KESTREL_CRASH_URL", std::nullopt},
            {"XDG_STATE_HOME", (m_directory / "state").string()},
            {"XDG_CONFIG_HOME", (m_directory / "config").string()},
            {"LOCALAPPDATA", (m_directory / "state").string()},
            {"TMPDIR", tmp},
            {"TMP", tmp},
            {"TEMP", tmp},
            // AddressSanitizer leaves the fatal signals to the program's own
            // handlers, and gives threads no alternate signal stack of its own.
            {"ASAN_OPTIONS",
             "handle_segv=0:handle_sigbus=0:handle_sigill=0:handle_sigfpe=0:handle_abort=0:"
             "allow_user_segv_handler=1:detect_leaks=0:use_sigaltstack=0"},
        };
        for (const auto& [name, value] : more) {
            auto same = std::find_if(environment.begin(), environment.end(),
                                     [&name = name](const auto& entry) { return entry.first == name; });
            if (same != environment.end()) same->second = value;
        }
        ChildProcess child;
        ASSERT_TRUE(child.Start(BuiltProgramPath("crash-test-program"),
                                {(m_directory / "work").string(), fault}, environment));
        auto status = child.Wait(120s);
        ASSERT_TRUE(status.has_value()) << "the crashed program did not end";
        EXPECT_NE(*status, 0) << child.Output();
        m_output = child.Output();
    }

    // The one report folder that the crash left.
    fs::path ReportFolder() {
        fs::path root = m_directory / "state" / "Vantora" / "Kestrel" / "CrashReports";
        std::vector<fs::path> folders;
        std::error_code error;
        for (fs::directory_iterator it(root, error); !error && it != fs::directory_iterator(); ++it) {
            folders.push_back(it->path());
        }
        EXPECT_EQ(folders.size(), 1u) << root << "\n" << m_output;
        return folders.empty() ? fs::path() : folders.front();
    }

    // |logged|: whether the crash record itself can reach the log (not when
    // the faulting thread holds the log's lock).
    void ExpectFullReport(const std::string& crashText, bool logged = true) {
        fs::path folder = ReportFolder();
        ASSERT_FALSE(folder.empty());
        std::string log = ReadFile(m_directory / "work/logs/rotating.txt");
        if (logged) {
            EXPECT_NE(log.find("[critical] " + crashText), std::string::npos) << log;
        }

        bool dump = fs::exists(folder / "minidump.dmp") || fs::exists(folder / "backtrace.txt");
        EXPECT_TRUE(dump) << folder;
        std::string code = crashText.substr(crashText.rfind(' ') + 1);
        if (fs::exists(folder / "minidump.dmp")) {
            EXPECT_EQ(ReadFile(folder / "minidump.dmp").substr(0, 4), "MDMP");
        }
        if (fs::exists(folder / "backtrace.txt")) {
            EXPECT_NE(ReadFile(folder / "backtrace.txt").find("exception " + code), std::string::npos);
        }
        EXPECT_NE(ReadFile(folder / "report.ini").find("exception=" + code), std::string::npos);
        EXPECT_EQ(ReadFile(folder / "description.txt"), crashText);
        std::string user = ReadFile(folder / "user.txt");
        EXPECT_NE(user.find("email=crash-reports@kestrel.invalid"), std::string::npos);
        bool identified = user.find("name=SWID/") == 0 || user.find("name=VTID/") == 0;
        EXPECT_TRUE(identified) << "telemetry is on: the report names the machine\n" << user;
        EXPECT_NE(ReadFile(folder / "report.ini")
                      .find(std::string("application=kestrel-sdplugin\nversion=") + kPluginVersion + "\n"),
                  std::string::npos);

        ExpectNoReportContentInTheTemporaryFolder();

        fs::path archive;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().extension() == ".zip") archive = entry.path();
        }
        ASSERT_FALSE(archive.empty()) << "no archive in " << folder;
        ZipContents contents = ReadZip(archive);
        ASSERT_EQ(contents.error, "");
        std::vector<std::string> names;
        for (const auto& entry : contents.entries) names.push_back(entry.name);
        EXPECT_EQ(names, (std::vector<std::string>{"manifest.ini", "kestrel-sdplugin/rotating.1.txt",
                                                   "kestrel-sdplugin/rotating.txt",
                                                   "kestrel-sdplugin/sub/extra.txt"}));
        // The archived log already explains the crash, or at least holds
        // the last record written before it.
        if (names.size() == 4) {
            const std::string& archivedLog = contents.entries[2].content;
            EXPECT_NE(archivedLog.find(logged ? crashText : "about to fault"), std::string::npos)
                << archivedLog;
        }
    }

    // The log archive was moved into the report: what stays in the temporary
    // folder are empty reserved names at most.
    void ExpectNoReportContentInTheTemporaryFolder() {
        for (const auto& entry : fs::recursive_directory_iterator(m_directory / "tmp")) {
            if (entry.is_regular_file()) {
                EXPECT_EQ(entry.file_size(), 0u) << entry.path() << " stays outside the report";
            }
        }
    }

    // Whether the crash program stored a machine identifier.
    bool IdentifierStored() const {
        if (KESTREL_WIN32) {
            return !ReadStoredMachineId(MachineIdStore::Machine).empty() ||
                   !ReadStoredMachineId(MachineIdStore::User).empty();
        }
        return fs::exists(m_directory / "config" / "Vantora" / "MachineUniqueIdentifier");
    }

    // POSIX: the report folder (and the folders made for it) are the user's
    // alone, and so is every file in it.
    void ExpectForTheUserAlone(const fs::path& folder) {
        if (KESTREL_WIN32) return;  // the folder lies in the user's own profile
        for (const fs::path& made : {folder, folder.parent_path(), folder.parent_path().parent_path()}) {
            EXPECT_EQ(fs::status(made).permissions() & fs::perms::all, fs::perms::owner_all) << made;
        }
        for (const auto& entry : fs::directory_iterator(folder)) {
            EXPECT_EQ(entry.status().permissions() & fs::perms::all,
                      fs::perms::owner_read | fs::perms::owner_write)
                << entry.path();
        }
    }

    void ExpectCrashEvent(const TestHttpServer& server, const std::string& crashText) {
        ASSERT_TRUE(server.WaitForRequests(1, 10s));
        bool found = false;
        for (const auto& request : server.Requests()) {
            found = found || (request.body.find("\"name\":\"streamdeck_kestrel_plugin_crashed\"") !=
                                  std::string::npos &&
                              request.body.find("\"message\":\"" + crashText + "\"") != std::string::npos);
        }
        EXPECT_TRUE(found);
    }

    fs::path m_directory;
    fs::path m_previous;
    std::string m_output;
};

TEST_F(CrashReportingTest, NullWriteLeavesAReportWithDumpDescriptionAndLogArchiveAndSendsTheEvent) {
    if (kThreadSanitizer)
        GTEST_SKIP() << "ThreadSanitizer takes over the fatal signals; the other builds cover this";
    TestHttpServer server;
    RunCrashProgram("null-write", server);
    ExpectFullReport("Unhandled exception: c0000005");
    ExpectCrashEvent(server, "Unhandled exception: c0000005");
    ExpectForTheUserAlone(ReportFolder());
}

// Every thread of the plug-in readies itself for crash reports, so a stack
// overflow away from the main thread (a deep document on the pipe dispatch
// thread, say) is reported like any other fault.
// Telemetry off: the report is made as usual, but no machine identifier is
// made, stored or written into it, and no event is sent.
TEST_F(CrashReportingTest, WithTelemetryOffTheReportCarriesNoMachineIdentifierAndNoneIsStored) {
    if (kThreadSanitizer)
        GTEST_SKIP() << "ThreadSanitizer takes over the fatal signals; the other builds cover this";
    for (const EnvironmentOverrides& off :
         {EnvironmentOverrides{{"DO_NOT_TRACK", "1"}}, EnvironmentOverrides{{"KESTREL_TELEMETRY", "off"}}}) {
        SCOPED_TRACE(off.front().first);
        if (KESTREL_WIN32) {
            DeleteStoredMachineId(MachineIdStore::Machine);
            DeleteStoredMachineId(MachineIdStore::User);
        }
        TestHttpServer server;
        RunCrashProgram("null-write", server, off);
        fs::path folder = ReportFolder();
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(ReadFile(folder / "user.txt"), "name=\nemail=crash-reports@kestrel.invalid\n");
        EXPECT_FALSE(IdentifierStored());
        ExpectNoReportContentInTheTemporaryFolder();
        EXPECT_TRUE(server.ConnectionBytes().empty());
        fs::remove_all(folder);
    }
}

// The streamer's switch, learnt after the reporter was set up, is honoured
// at the crash: a report as usual, without the identifier and the event.
TEST_F(CrashReportingTest, WithTheStreamersSwitchOffTheReportCarriesNoMachineIdentifierAndNoEventIsSent) {
    if (kThreadSanitizer)
        GTEST_SKIP() << "ThreadSanitizer takes over the fatal signals; the other builds cover this";
    TestHttpServer server;
    RunCrashProgram("null-write-switched-off", server);
    fs::path folder = ReportFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(ReadFile(folder / "description.txt"), "Unhandled exception: c0000005");
    EXPECT_EQ(ReadFile(folder / "user.txt"), "name=\nemail=crash-reports@kestrel.invalid\n");
    EXPECT_TRUE(server.ConnectionBytes().empty());
}

TEST_F(CrashReportingTest, StackOverflowOnAnotherThreadLeavesAFullReport) {
    if (kThreadSanitizer)
        GTEST_SKIP() << "ThreadSanitizer takes over the fatal signals; the other builds cover this";
    TestHttpServer server;
    RunCrashProgram("stack-overflow-on-thread", server);
    const std::string crashText =
        KESTREL_WIN32 ? "Unhandled exception: c00000fd" : "Unhandled exception: c0000005";
    ExpectFullReport(crashText);
    ExpectCrashEvent(server, crashText);
}

// The callback cannot start the thread that writes its log record: that
// record is lost, every other part of the report is not.
TEST_F(CrashReportingTest, CallbackThatCannotStartAThreadStillLeavesTheReportAndSendsTheEvent) {
    if (kThreadSanitizer)
        GTEST_SKIP() << "ThreadSanitizer takes over the fatal signals; the other builds cover this";
    if (KESTREL_WIN32) GTEST_SKIP() << "the test program cannot stop thread starts on Windows";
    TestHttpServer server;
    RunCrashProgram("null-write-without-threads", server);
    ExpectFullReport("Unhandled exception: c0000005", false);
    ExpectCrashEvent(server, "Unhandled exception: c0000005");
}

TEST_F(CrashReportingTest, AbortIsReportedAsAFatalApplicationExit) {
    if (kThreadSanitizer)
        GTEST_SKIP() << "ThreadSanitizer takes over the fatal signals; the other builds cover this";
    TestHttpServer server;
    RunCrashProgram("abort", server);
    ExpectFullReport("Unhandled exception: 40000015");
    ExpectCrashEvent(server, "Unhandled exception: 40000015");
}

// The crash record waits for the log's lock only a bounded time; the report,
// its archive and the crash event must not wait for it at all.
TEST_F(CrashReportingTest, FaultWhileHoldingTheLogLockStillLeavesTheReportAndSendsTheEvent) {
    if (kThreadSanitizer)
        GTEST_SKIP() << "ThreadSanitizer takes over the fatal signals; the other builds cover this";
    TestHttpServer server;
    auto start = std::chrono::steady_clock::now();
    RunCrashProgram("null-write-in-log", server);
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(seconds.count(), 40) << "the crash path waited for the log";
    ExpectFullReport("Unhandled exception: c0000005", false);
    ExpectCrashEvent(server, "Unhandled exception: c0000005");
}

TEST_F(CrashReportingTest, OtherNotificationCodesDoNothingAndEveryCodeAnswersFalse) {
    fs::current_path(m_directory / "work");
    ASSERT_NE(StartLogging(), nullptr);
    uint32_t record[4] = {0xC0000005, 0, 0, 0};
    EXPECT_FALSE(CrashReporter::OnCrash(0x4f, record, nullptr));
    EXPECT_FALSE(CrashReporter::OnCrash(0, nullptr, nullptr));
    EXPECT_EQ(ReadFile(m_directory / "work/logs/rotating.txt").find("Unhandled"), std::string::npos);
    // Code 80 with no record: the exception code reads as 0.
    EXPECT_FALSE(CrashReporter::OnCrash(0x50, nullptr, nullptr));
    StopLogging();
    std::string log = ReadFile(m_directory / "work/logs/rotating.txt");
    log.erase(std::remove(log.begin(), log.end(), '\r'), log.end());
    EXPECT_NE(log.find("[critical] Unhandled exception: 0\n"), std::string::npos) << log;
}

TEST_F(CrashReportingTest, PendingReportsAreUploadedAndRemovedOnlyWhenAccepted) {
    fs::path root = m_directory / "state";
    for (const char* name : {"20240101-000000-1", "20240102-000000-2"}) {
        fs::create_directories(root / name);
        std::ofstream(root / name / "report.ini") << "exception=c0000005\n";
        std::ofstream(root / name / "description.txt") << "Unhandled exception: c0000005";
    }
    fs::create_directories(root / "20240103-000000-3");  // still being written: no report.ini
    std::atomic<bool> stop{false};

    TestHttpServer refusing;
    refusing.SetResponse(503, "busy");
    EXPECT_EQ(CrashReportUploader::UploadPending(root, refusing.Url("/post"), stop), 0);
    EXPECT_EQ(refusing.Requests().size(), 2u);
    EXPECT_TRUE(fs::exists(root / "20240101-000000-1"));

    TestHttpServer accepting;
    {
        CrashReportUploader uploader(root, accepting.Url("/post"));
        uploader.Join();
    }
    auto requests = accepting.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].Header("Content-Type").rfind("multipart/form-data; boundary=", 0), 0u);
    EXPECT_NE(requests[0].body.find("filename=\"description.txt\""), std::string::npos);
    EXPECT_NE(requests[0].body.find("Unhandled exception: c0000005"), std::string::npos);
    EXPECT_FALSE(fs::exists(root / "20240101-000000-1"));
    EXPECT_FALSE(fs::exists(root / "20240102-000000-2"));
    EXPECT_TRUE(fs::exists(root / "20240103-000000-3"));
}

// A report is a real folder with a regular report.ini, and only regular
// files directly in it are posted: links planted there are never followed.
TEST_F(CrashReportingTest, UploadFollowsNoLinkToAFileOrAFolder) {
    if (KESTREL_WIN32) GTEST_SKIP() << "links need privileges on Windows";
    fs::path root = m_directory / "state";
    fs::path outside = m_directory / "outside";
    fs::create_directories(outside / "planted");
    std::ofstream(outside / "secret.txt") << "SECRET OF ANOTHER FILE";
    std::ofstream(outside / "planted" / "report.ini") << "exception=1\n";
    fs::create_directories(root / "20240101-000000-1");
    std::ofstream(root / "20240101-000000-1" / "report.ini") << "exception=c0000005\n";
    fs::create_symlink(outside / "secret.txt", root / "20240101-000000-1" / "secret.txt");
    fs::create_directory_symlink(outside / "planted", root / "20240102-000000-2");
    fs::create_directories(root / "20240103-000000-3");
    fs::create_symlink(outside / "secret.txt", root / "20240103-000000-3" / "report.ini");

    TestHttpServer accepting;
    std::atomic<bool> stop{false};
    EXPECT_EQ(CrashReportUploader::UploadPending(root, accepting.Url("/post"), stop), 1);
    auto requests = accepting.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].body.find("name=\"report\"\r\n\r\n20240101-000000-1\r\n"), std::string::npos);
    EXPECT_NE(requests[0].body.find("exception=c0000005"), std::string::npos);
    EXPECT_EQ(requests[0].body.find("SECRET"), std::string::npos);
    EXPECT_EQ(requests[0].body.find("secret.txt"), std::string::npos);
    EXPECT_EQ(ReadFile(outside / "secret.txt"), "SECRET OF ANOTHER FILE");
    EXPECT_TRUE(fs::exists(outside / "planted" / "report.ini"));
    EXPECT_TRUE(fs::exists(root / "20240103-000000-3"));
}

TEST_F(CrashReportingTest, AReportBeyondOnePostStaysAndTheOthersAreSent) {
    fs::path root = m_directory / "state";
    for (const char* name : {"20240101-000000-1", "20240102-000000-2"}) {
        fs::create_directories(root / name);
        std::ofstream(root / name / "report.ini") << "exception=c0000005\n";
    }
    // Sparse where the file system allows: no time goes into writing it.
    std::ofstream(root / "20240101-000000-1" / "minidump.dmp").close();
    fs::resize_file(root / "20240101-000000-1" / "minidump.dmp", CrashReportUploader::kMaxPostBytes);

    TestHttpServer accepting;
    std::atomic<bool> stop{false};
    EXPECT_EQ(CrashReportUploader::UploadPending(root, accepting.Url("/post"), stop), 1);
    ASSERT_EQ(accepting.Requests().size(), 1u);
    EXPECT_NE(accepting.Requests()[0].body.find("20240102-000000-2"), std::string::npos);
    EXPECT_TRUE(fs::exists(root / "20240101-000000-1" / "minidump.dmp"));
    EXPECT_FALSE(fs::exists(root / "20240102-000000-2"));
}

TEST_F(CrashReportingTest, WithoutAnUploadUrlReportsStay) {
    fs::create_directories(m_directory / "state" / "r");
    std::ofstream(m_directory / "state" / "r" / "report.ini") << "x";
    { CrashReportUploader uploader(m_directory / "state", ""); }
    EXPECT_TRUE(fs::exists(m_directory / "state" / "r" / "report.ini"));
}

}  // namespace
