#include "telemetry/MachineIdStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

// The same limit as the registry read on Windows: a longer value is not read.
constexpr size_t kMaxStoredBytes = 16384;

// The identifier is the user's own: other users may neither read it nor list the folder.
constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;

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

// The store's folder, made or narrowed to its user alone; false when it cannot be.
bool PrepareFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder.parent_path(), error);
    if (mkdir(folder.c_str(), kFolderMode) == 0) return true;
    if (errno != EEXIST) return false;
    struct stat status {};
    if (stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return false;
    if ((status.st_mode & 0777) == kFolderMode) return true;
    return status.st_uid == geteuid() && chmod(folder.c_str(), kFolderMode) == 0;
}

bool WriteWhole(int fd, const std::string& text) {
    size_t written = 0;
    while (written < text.size()) {
        ssize_t step = write(fd, text.data() + written, text.size() - written);
        if (step < 0 && errno == EINTR) continue;
        if (step <= 0) return false;
        written += static_cast<size_t>(step);
    }
    return true;
}

}  // namespace

std::string ReadStoredMachineId(MachineIdStore store) {
    if (store != MachineIdStore::Machine) return "";
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

bool WriteStoredMachineId(MachineIdStore store, const std::string& text) {
    if (store != MachineIdStore::Machine) return false;
    fs::path file = StoreFile();
    if (file.empty() || !PrepareFolder(file.parent_path())) return false;
    // Written beside the store and renamed over it, so a reader never sees
    // half a value; made with the final mode, so it is never readable by others.
    fs::path temporary = file;
    temporary += ".tmp" + std::to_string(getpid());
    unlink(temporary.c_str());
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
    if (fd < 0) return false;
    bool written = WriteWhole(fd, text);
    written = close(fd) == 0 && written;
    if (written && rename(temporary.c_str(), file.c_str()) == 0) return true;
    unlink(temporary.c_str());
    return false;
}

void DeleteStoredMachineId(MachineIdStore store) {
    fs::path file = StoreFile();
    std::error_code ignored;
    if (store == MachineIdStore::Machine && !file.empty()) fs::remove(file, ignored);
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
