#include "lifetime/CrashReportArchive.h"

#include <cstdio>
#include <map>

#include "diagnostics/Platform.h"
#include "lifetime/UniqueTempFile.h"
#include "lifetime/ZipWriter.h"

namespace fs = std::filesystem;

const char kCrashReportManifest[] = "app=kestrel-sdplugin\ngenerator=crash_handler\nversion=1\n";

namespace {

constexpr size_t kReadChunk = 32768;

// Entry name by full path: the archive order.
std::map<fs::path::string_type, std::string> FindLogFiles(const fs::path& logsDirectory) {
    std::map<fs::path::string_type, std::string> files;
    std::error_code error;
    fs::recursive_directory_iterator it(logsDirectory, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        // Regular files only: a FIFO would block the crash path, and a link
        // does not belong to the log.
        std::error_code ignored;
        if (it->symlink_status(ignored).type() != fs::file_type::regular) continue;
        fs::path relative = it->path().lexically_relative(logsDirectory);
        files.emplace(it->path().native(), "kestrel-sdplugin/" + relative.generic_u8string());
    }
    return files;
}

void AddFile(ZipWriter& zip, const fs::path& path, const std::string& name) {
    // Bytes as they are (a 0x1A does not end a log), shared with the log's writer.
    std::FILE* file = OpenRegularFile(path);
    if (!file) return;
    if (zip.BeginEntry(name)) {
        char buffer[kReadChunk];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            if (!zip.Write(buffer, got)) break;
        }
        zip.EndEntry();
    }
    std::fclose(file);
}

}  // namespace

bool WriteCrashReportArchive(const fs::path& archive, const fs::path& logsDirectory) {
    ZipWriter zip;
    if (!zip.Open(archive)) return false;
    zip.AddEntry("manifest.ini", kCrashReportManifest);
    for (const auto& [path, name] : FindLogFiles(logsDirectory)) AddFile(zip, path, name);
    return zip.Close();
}

std::optional<fs::path> BuildCrashReportArchive(const fs::path& logsDirectory) {
    std::optional<fs::path> reserved = CreateUniqueTempFile("kestrel-sdplugin-error-report-data");
    if (!reserved) return std::nullopt;
    fs::path archive = *reserved;
    archive += ".zip";
    // The empty reserved file stays: while it exists no later crash is handed
    // its name, and so neither the archive's.
    if (WriteCrashReportArchive(archive, logsDirectory)) return archive;
    std::error_code ignored;
    fs::remove(archive, ignored);
    return std::nullopt;
}
