#include "telemetry/MachineIdStore.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

// The same limit as the registry read on Windows: a longer value is not read.
constexpr size_t kMaxStoredBytes = 16384;

fs::path StoreDirectory() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return fs::path(config) / "Vantora";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return fs::path(home) / ".config" / "Vantora";
    return {};
}

fs::path StoreFile() {
    fs::path directory = StoreDirectory();
    return directory.empty() ? directory : directory / "MachineUniqueIdentifier";
}

}  // namespace

std::string ReadStoredMachineId() {
    fs::path file = StoreFile();
    if (file.empty()) return "";
    std::ifstream stream(file, std::ios::binary);
    if (!stream) return "";
    std::string content;
    content.resize(kMaxStoredBytes);
    stream.read(&content[0], static_cast<std::streamsize>(content.size()));
    size_t length = static_cast<size_t>(stream.gcount());
    if (length >= kMaxStoredBytes) return "";  // too long for the buffer
    content.resize(length);
    return content.substr(0, content.find('\0'));
}

void WriteStoredMachineId(const std::string& text) {
    fs::path file = StoreFile();
    if (file.empty()) return;
    std::error_code error;
    fs::create_directories(file.parent_path(), error);
    // Written beside the store and renamed over it, so a reader never sees half a value.
    fs::path temporary = file;
    temporary += ".tmp" + std::to_string(getpid());
    {
        std::ofstream stream(temporary, std::ios::binary | std::ios::trunc);
        if (!stream) return;
        stream.write(text.data(), static_cast<std::streamsize>(text.size()));
        if (!stream.flush()) {
            stream.close();
            fs::remove(temporary, error);
            return;
        }
    }
    fs::rename(temporary, file, error);
    if (error) fs::remove(temporary, error);
}

void DeleteStoredMachineId() {
    fs::path file = StoreFile();
    std::error_code ignored;
    if (!file.empty()) fs::remove(file, ignored);
}

std::string ReadHardwareUuid() {
    std::ifstream stream("/sys/class/dmi/id/product_uuid");
    std::string uuid;
    if (!(stream >> uuid)) return "";
    // Windows reports the same UUID in upper case; keep one form per machine.
    std::transform(uuid.begin(), uuid.end(), uuid.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return uuid;
}
