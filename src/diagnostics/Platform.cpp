#include "diagnostics/Platform.h"

#include <fcntl.h>
#include <sys/stat.h>

#if KESTREL_WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

std::FILE* OpenFile(const std::filesystem::path& path, const char* mode) {
#if KESTREL_WIN32
    std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
    return _wfopen(path.c_str(), wideMode.c_str());
#else
    return std::fopen(path.c_str(), mode);
#endif
}

std::FILE* CreateNewFile(const std::filesystem::path& path) {
#if KESTREL_WIN32
    int fd =
        _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd < 0) return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) _close(fd);
#else
    // O_EXCL alone already refuses a link; O_NOFOLLOW says so once more.
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (!file) close(fd);
#endif
    return file;
}

bool RestrictFileToOwner(const std::filesystem::path& path) {
#if KESTREL_WIN32
    (void)path;
    return true;
#else
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) return false;
    bool restricted = fchmod(fd, 0600) == 0;
    close(fd);
    return restricted;
#endif
}

std::FILE* OpenRegularFile(const std::filesystem::path& path) {
#if KESTREL_WIN32
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error))) return nullptr;
    return _wfopen(path.c_str(), L"rb");
#else
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat status {};
    std::FILE* file = nullptr;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) file = fdopen(fd, "rb");
    if (!file) close(fd);
    return file;
#endif
}

bool TruncateFile(std::FILE* file, uint64_t size) {
    if (std::fflush(file) != 0) return false;
#if KESTREL_WIN32
    return _chsize_s(_fileno(file), static_cast<long long>(size)) == 0;
#else
    return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
#endif
}

std::tm LocalTimeNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#if KESTREL_WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local;
}
