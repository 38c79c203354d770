#include "lifetime/CrashReporter.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "Version.h"
#include "diagnostics/CrashReportThread.h"
#include "diagnostics/Log.h"
#include "diagnostics/Platform.h"
#include "diagnostics/TextParsing.h"
#include "lifetime/CrashReportArchive.h"
#include "lifetime/CrashReportUploader.h"
#include "lifetime/MiniDmpSender.h"
#include "telemetry/MachineId.h"
#include "telemetry/TelemetryService.h"
#include "telemetry/TelemetrySettings.h"

namespace {

constexpr char kDatabase[] = "Kestrel";
constexpr char kUserEmail[] = "crash-reports@kestrel.invalid";

// The sender whose callback is running; set while a CrashReporter exists.
std::atomic<MiniDmpSender*> g_sender{nullptr};

// Empty when telemetry is off: then no identifier is made, stored or written
// into a report.
std::string MachineIdText() {
    if (!ReadTelemetrySettings().enabled) return std::string();
    std::string id = GetMachineId();
    return IsUtf8(id) ? id : std::string();
}

// Writes |text| to the log from its own thread and waits for it a bounded
// time: the faulting thread may hold the log's lock. False when the record
// was not written in time or no thread could start; a late writer is left
// behind, as the process is about to end.
bool LogBounded(bool critical, const char* text) noexcept {
    try {
        auto written = std::make_shared<std::promise<void>>();
        std::future<void> done = written->get_future();
        std::thread([critical, record = std::string(text), written] {
            PrepareThreadForCrashReports();
            try {
                if (critical) {
                    LogCritical("%s", record.c_str());
                } else {
                    LogError("%s", record.c_str());
                }
                written->set_value();
            } catch (...) {
                // Nothing more can be said: the record itself did not make it.
            }
        }).detach();
        return done.wait_for(CrashReporter::kLogLimit) == std::future_status::ready;
    } catch (...) {
        return false;  // no memory or no thread for the writer
    }
}

// The parts of the crash report. A part that fails (its work returns false)
// or throws is named in the log while the log still answers; the next part
// goes on either way.
class CrashParts {
public:
    explicit CrashParts(bool logAnswers) : m_logAnswers(logAnswers) {}

    template <typename Work>
    void Run(const char* part, Work&& work) noexcept {
        try {
            if (!work()) Failed(part, "not written");
        } catch (const std::exception& error) {
            Failed(part, error.what());
        } catch (...) {
            Failed(part, "unknown exception");
        }
    }

private:
    void Failed(const char* part, const char* what) noexcept {
        if (!m_logAnswers) return;
        char line[512];
        std::snprintf(line, sizeof line, "CrashReporter::OnCrash: %s failed: %s", part, what);
        m_logAnswers = LogBounded(false, line);
    }

    bool m_logAnswers;
};

}  // namespace

CrashReporter::CrashReporter() {
    m_sender = std::make_unique<MiniDmpSender>(kDatabase, "kestrel-sdplugin", kPluginVersion,
                                               "Kestrel StreamDeck Plugin", kFlags);
    m_sender->setDefaultUserName(MachineIdText().c_str());
    m_sender->setDefaultUserEmail(kUserEmail);
    m_sender->setDefaultUserDescription("");
    g_sender = m_sender.get();
    m_sender->setCallback(&CrashReporter::OnCrash);
    std::filesystem::path root = MiniDmpSender::ReportRoot(kDatabase);
    if (root.empty()) LogError("CrashReporter::CrashReporter: no home folder: crash reports are not stored");
    m_uploader = std::make_unique<CrashReportUploader>(root, CrashReportUploader::ConfiguredUrl());
}

CrashReporter::~CrashReporter() {
    m_uploader.reset();
    g_sender = nullptr;
    m_sender.reset();
}

bool CrashReporter::OnCrash(unsigned int code, void* record, void* context) {
    if (code != MiniDmpSender::kCrashNotification) return false;
    uint32_t exceptionCode = 0;
    if (record) std::memcpy(&exceptionCode, record, sizeof exceptionCode);
    char text[64];
    std::snprintf(text, sizeof text, "Unhandled exception: %x", exceptionCode);

    CrashParts parts(LogBounded(true, text));
    MiniDmpSender* sender = g_sender.load();
    parts.Run("the machine identifier", [&] {
        // Written at start from the environment's rule; the streamer's switch,
        // learnt later from the host, may have turned telemetry off since.
        if (sender && !TelemetryService::Instance()->UserAllows()) sender->setDefaultUserName("");
        return true;
    });
    parts.Run("the description", [&] {
        if (sender) sender->setDefaultUserDescription(text);
        return true;
    });
    parts.Run("the log archive", [&] {
        std::error_code noDirectory;
        auto archive = BuildCrashReportArchive(std::filesystem::current_path(noDirectory) / "logs");
        if (!archive) return false;
        // The copy in the report folder is the only one that stays.
        bool handed = sender && sender->sendAdditionalFile(*archive, MiniDmpSender::AfterReport::Remove);
        std::error_code ignored;
        if (!handed) std::filesystem::remove(*archive, ignored);
        return true;
    });
    parts.Run("the crash event", [&] {
        TelemetryService::Instance()->SendEvent("streamdeck_kestrel_plugin_crashed", true,
                                                {{"message", text}});
        return true;
    });
    return false;
}
