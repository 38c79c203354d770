#include "deck-sim/StaticFiles.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Percent-decoding; nothing for a malformed escape or a decoded NUL.
std::optional<std::string> Decode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int high = HexValue(text[i + 1]), low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (out.find('\0') != std::string::npos) return std::nullopt;
    return out;
}

bool SafeSegments(const std::string& path) {
    if (path.find('\\') != std::string::npos) return false;
    std::istringstream segments(path);
    std::string segment;
    while (std::getline(segments, segment, '/')) {
        if (segment == "..") return false;
    }
    return true;
}

bool IsInside(const fs::path& file, const fs::path& root) {
    auto rootText = root.string();
    auto fileText = file.string();
    return fileText.compare(0, rootText.size(), rootText) == 0 &&
           (fileText.size() == rootText.size() || fileText[rootText.size()] == '/');
}

}  // namespace

StaticFiles::StaticFiles(std::string root) : m_root(std::move(root)) {}

std::optional<std::string> StaticFiles::Resolve(const std::string& urlPath) const {
    std::string path = urlPath.substr(0, urlPath.find_first_of("?#"));
    if (path.empty() || path[0] != '/') return std::nullopt;
    auto decoded = Decode(path);
    if (!decoded || !SafeSegments(*decoded)) return std::nullopt;
    if (decoded->back() == '/') *decoded += "index.html";

    std::error_code error;
    fs::path root = fs::canonical(m_root, error);
    if (error) return std::nullopt;
    fs::path file = fs::canonical(root / decoded->substr(1), error);
    if (error || !IsInside(file, root) || !fs::is_regular_file(file, error)) return std::nullopt;
    return file.string();
}

std::optional<std::string> StaticFiles::Read(const std::string& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) return std::nullopt;
    std::ostringstream bytes;
    bytes << stream.rdbuf();
    return bytes.str();
}

std::string StaticFiles::ContentType(const std::string& file) {
    static const std::map<std::string, std::string> types = {
        {".html", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".json", "application/json"},
        {".png", "image/png"},
        {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"},
    };
    auto found = types.find(fs::path(file).extension().string());
    return found == types.end() ? "application/octet-stream" : found->second;
}
