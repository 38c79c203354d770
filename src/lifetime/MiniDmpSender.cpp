// The report folder and the setters, shared by both platforms. The OS hooks
// (handler, helper thread, dump, folder location) are in the _win32/_posix files.

#include "lifetime/MiniDmpSender.h"

#include <cstdio>

#include "diagnostics/Platform.h"

namespace fs = std::filesystem;

namespace {

// Report files are new files for the user alone: a name that exists already
// (a link planted beforehand, say) is left alone and that file is not written.
void WriteTextFile(const fs::path& path, const std::string& text) {
    std::FILE* file = CreateNewFile(path);
    if (!file) return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

void CopyIntoNewFile(const fs::path& from, const fs::path& to) {
    std::FILE* source = OpenFile(from, "rb");
    if (!source) return;
    if (std::FILE* target = CreateNewFile(to)) {
        char buffer[32768];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, source)) > 0) {
            if (std::fwrite(buffer, 1, got, target) != got) break;
        }
        std::fclose(target);
    }
    std::fclose(source);
}

// Runs one part of the report: whatever it throws (no memory left, a thread
// or a name that cannot be made) ends that part alone. Nothing is logged:
// the faulting thread may hold the log's lock.
template <typename Work>
void RunPart(Work&& work) noexcept {
    try {
        work();
    } catch (...) {
    }
}

}  // namespace

void MiniDmpSender::setDefaultUserName(const char* name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_userName = name ? name : "";
}

void MiniDmpSender::setDefaultUserEmail(const char* email) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_userEmail = email ? email : "";
}

void MiniDmpSender::setDefaultUserDescription(const char* description) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_userDescription = description ? description : "";
}

void MiniDmpSender::setCallback(Callback callback) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_callback = callback;
}

bool MiniDmpSender::sendAdditionalFile(const std::filesystem::path& path, AfterReport after) {
    if (path.empty()) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_additionalFiles.push_back({path, after});
    return true;
}

void MiniDmpSender::HandleCrash(const Crash& crash) noexcept {
    fs::path folder;
    RunPart([&] { folder = MakeReportFolder(); });
    // Dump and report first: they survive a callback that never returns.
    if (!folder.empty()) {
        RunPart([&] { WriteDump(folder, crash); });
        RunPart([&] { WriteReportIni(folder, crash); });
    }
    RunPart([&] {
        Callback callback = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            callback = m_callback;
        }
        if (callback) callback(kCrashNotification, crash.record, crash.context);
    });
    if (!folder.empty()) RunPart([&] { WriteUserFiles(folder); });
    RunPart([&] { RemoveHandedOverFiles(); });
}

// Empty when there is no report root or the folder cannot be made.
fs::path MiniDmpSender::MakeReportFolder() const {
    if (m_reportRoot.empty()) return fs::path();
    std::tm local = LocalTimeNow();
    char name[64];
    std::snprintf(name, sizeof name, "%04d%02d%02d-%02d%02d%02d-%lu", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, CurrentProcessId());
    fs::path folder = m_reportRoot / name;
    return CreateReportFolder(folder) ? folder : fs::path();
}

void MiniDmpSender::WriteReportIni(const fs::path& folder, const Crash& crash) const {
    char code[16];
    std::snprintf(code, sizeof code, "%x", crash.exceptionCode);
    WriteTextFile(folder / "report.ini", "database=" + m_database + "\napplication=" + m_application +
                                             "\nversion=" + m_version + "\ntitle=" + m_title + "\nflags=" +
                                             std::to_string(m_flags) + "\nexception=" + code + "\n");
}

void MiniDmpSender::WriteUserFiles(const fs::path& folder) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    RunPart([&] { WriteTextFile(folder / "description.txt", m_userDescription); });
    RunPart(
        [&] { WriteTextFile(folder / "user.txt", "name=" + m_userName + "\nemail=" + m_userEmail + "\n"); });
    for (const AdditionalFile& file : m_additionalFiles) {
        RunPart([&] { CopyIntoNewFile(file.path, folder / file.path.filename()); });
    }
}

void MiniDmpSender::RemoveHandedOverFiles() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const AdditionalFile& file : m_additionalFiles) {
        std::error_code ignored;
        if (file.after == AfterReport::Remove) fs::remove(file.path, ignored);
    }
}
