#include "graphics/PngChunks.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr size_t kChunkOverhead = 12;     // length, type, CRC
constexpr size_t kHeaderLength = 13;      // IHDR's data
constexpr unsigned kLargestSide = 32767;  // the largest image surface cairo makes

uint32_t BigEndian(const unsigned char* at) {
    return (uint32_t(at[0]) << 24) | (uint32_t(at[1]) << 16) | (uint32_t(at[2]) << 8) | uint32_t(at[3]);
}

}  // namespace

bool ReadIntactPng(const std::vector<unsigned char>& png, PngSize& size) {
    if (png.size() < sizeof kSignature || std::memcmp(png.data(), kSignature, sizeof kSignature) != 0)
        return false;
    size_t at = sizeof kSignature;
    bool first = true;
    while (png.size() - at >= kChunkOverhead) {
        const unsigned char* chunk = png.data() + at;
        const uint32_t length = BigEndian(chunk);
        if (length > png.size() - at - kChunkOverhead) return false;
        const uLong crc = crc32(0L, chunk + 4, static_cast<uInt>(4 + length));
        if (crc != BigEndian(chunk + 8 + length)) return false;
        const bool header = std::memcmp(chunk + 4, "IHDR", 4) == 0;
        if (first != header) return false;
        if (header) {
            if (length != kHeaderLength) return false;
            size.width = BigEndian(chunk + 8);
            size.height = BigEndian(chunk + 12);
            if (size.width == 0 || size.height == 0 || size.width > kLargestSide ||
                size.height > kLargestSide)
                return false;
        }
        first = false;
        at += kChunkOverhead + length;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0)
            return true;  // bytes after it are ignored, as decoders do
    }
    return false;
}
