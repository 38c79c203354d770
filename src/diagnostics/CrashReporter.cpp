#include "diagnostics/CrashReporter.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

#include "diagnostics/CrashReportArchive.h"
#include "diagnostics/CrashReportUploader.h"
#include "diagnostics/Log.h"
#include "diagnostics/MiniDmpSender.h"
#include "diagnostics/Platform.h"
#include "telemetry/MachineId.h"
#include "telemetry/TelemetryService.h"

namespace {

constexpr wchar_t kDatabase[] = L"Kestrel";
constexpr wchar_t kUserEmail[] = L"crash-reports@kestrel.invalid";

// The sender whose callback is running; set while a CrashReporter exists.
std::atomic<MiniDmpSender*> g_sender{nullptr};

std::wstring VersionText() {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", 22, 6, 21, 87);
    return Utf8ToWide(text);
}

std::wstring MachineIdText() {
    try {
        return Utf8ToWide(GetMachineId());
    } catch (const std::range_error&) {
        return std::wstring();
    }
}

// Writes the crash record from its own thread and waits for it a bounded
// time: the faulting thread may hold the log's lock. On time-out the writer
// is left behind; the process is about to end.
void LogCrashBounded(uint32_t exceptionCode) {
    auto written = std::make_shared<std::promise<void>>();
    std::future<void> done = written->get_future();
    std::thread([exceptionCode, written] {
        LogCritical("Unhandled exception: %x", exceptionCode);
        written->set_value();
    }).detach();
    done.wait_for(CrashReporter::kLogLimit);
}

}  // namespace

CrashReporter::CrashReporter() {
    std::wstring version = VersionText();
    m_sender = std::make_unique<MiniDmpSender>(kDatabase, L"kestrel-sdplugin", version.c_str(),
                                               L"Kestrel StreamDeck Plugin", kFlags);
    m_sender->setDefaultUserName(MachineIdText().c_str());
    m_sender->setDefaultUserEmail(kUserEmail);
    m_sender->setDefaultUserDescription(L"");
    g_sender = m_sender.get();
    m_sender->setCallback(&CrashReporter::OnCrash);
    m_uploader = std::make_unique<CrashReportUploader>(MiniDmpSender::ReportRoot(kDatabase),
                                                       CrashReportUploader::ConfiguredUrl());
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

    LogCrashBounded(exceptionCode);
    MiniDmpSender* sender = g_sender.load();
    if (sender) sender->setDefaultUserDescription(Utf8ToWide(text).c_str());
    std::error_code noDirectory;
    auto archive = BuildCrashReportArchive(std::filesystem::current_path(noDirectory) / "logs");
    if (sender && archive) sender->sendAdditionalFile(archive->wstring().c_str());
    TelemetryService::Instance()->SendEvent("streamdeck_kestrel_plugin_crashed", true, {{"message", text}});
    return false;
}
