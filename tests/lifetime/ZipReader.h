#pragma once
// Test helper: reads a whole ZIP archive the way an unzip tool does, through
// the central directory, inflating every entry and checking its CRC-32 and
// sizes against both headers.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct ZipEntry {
    std::string name;
    std::string content;
    uint16_t dosDate = 0;
    uint16_t dosTime = 0;
    uint16_t method = 0;
    uint16_t flags = 0;
};

// Every entry in central-directory order; an error text when the archive is
// not well formed (bad signature, size, CRC or deflate stream).
struct ZipContents {
    std::vector<ZipEntry> entries;
    std::string error;
};

ZipContents ReadZip(const std::filesystem::path& path);
