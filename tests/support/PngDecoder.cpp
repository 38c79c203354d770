#include "support/PngDecoder.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

namespace {

const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

uint32_t ReadUint32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

struct Header {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t colourType = 0;
    unsigned channels = 0;
};

unsigned ChannelsOf(uint8_t colourType) {
    switch (colourType) {
        case 0:
            return 1;  // grey
        case 2:
            return 3;  // RGB
        case 3:
            return 1;  // palette index
        case 4:
            return 2;  // grey + alpha
        case 6:
            return 4;  // RGBA
        default:
            return 0;
    }
}

uint8_t Paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
    return static_cast<uint8_t>(pb <= pc ? b : c);
}

// Undoes the per-row filters in place; false for an unknown filter type.
bool Unfilter(std::vector<uint8_t>& data, size_t rowBytes, unsigned bpp, uint32_t height,
              std::vector<uint8_t>& rows) {
    rows.assign(rowBytes * height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t filter = data[y * (rowBytes + 1)];
        const uint8_t* in = &data[y * (rowBytes + 1) + 1];
        uint8_t* out = &rows[y * rowBytes];
        const uint8_t* up = y ? &rows[(y - 1) * rowBytes] : nullptr;
        for (size_t i = 0; i < rowBytes; ++i) {
            int a = i >= bpp ? out[i - bpp] : 0;
            int b = up ? up[i] : 0;
            int c = (up && i >= bpp) ? up[i - bpp] : 0;
            switch (filter) {
                case 0:
                    out[i] = in[i];
                    break;
                case 1:
                    out[i] = static_cast<uint8_t>(in[i] + a);
                    break;
                case 2:
                    out[i] = static_cast<uint8_t>(in[i] + b);
                    break;
                case 3:
                    out[i] = static_cast<uint8_t>(in[i] + (a + b) / 2);
                    break;
                case 4:
                    out[i] = static_cast<uint8_t>(in[i] + Paeth(a, b, c));
                    break;
                default:
                    return false;
            }
        }
    }
    return true;
}

RgbaImage ToRgba(const Header& header, const std::vector<uint8_t>& rows, const std::vector<uint8_t>& palette,
                 const std::vector<uint8_t>& paletteAlpha) {
    RgbaImage image(header.width, header.height, {0, 0, 0, 0});
    for (uint32_t y = 0; y < header.height; ++y) {
        for (uint32_t x = 0; x < header.width; ++x) {
            const uint8_t* s = &rows[(size_t(y) * header.width + x) * header.channels];
            RgbaImage::Pixel p;
            switch (header.colourType) {
                case 0:
                    p = {s[0], s[0], s[0], 255};
                    break;
                case 2:
                    p = {s[0], s[1], s[2], 255};
                    break;
                case 4:
                    p = {s[0], s[0], s[0], s[1]};
                    break;
                case 6:
                    p = {s[0], s[1], s[2], s[3]};
                    break;
                default: {  // palette; indices outside it read as transparent black
                    size_t i = s[0];
                    if (i * 3 + 2 < palette.size())
                        p = {palette[i * 3], palette[i * 3 + 1], palette[i * 3 + 2],
                             static_cast<uint8_t>(i < paletteAlpha.size() ? paletteAlpha[i] : 255)};
                    else
                        p = {0, 0, 0, 0};
                }
            }
            image.Set(x, y, p);
        }
    }
    return image;
}

}  // namespace

std::optional<RgbaImage> DecodePng(const std::vector<uint8_t>& png) {
    if (png.size() < 8 || std::memcmp(png.data(), kSignature, 8) != 0) return std::nullopt;
    Header header;
    std::vector<uint8_t> compressed, palette, paletteAlpha;
    bool sawHeader = false, sawEnd = false;
    for (size_t at = 8; at + 12 <= png.size() && !sawEnd;) {
        uint32_t length = ReadUint32(&png[at]);
        if (length > png.size() - at - 12) return std::nullopt;
        const uint8_t* type = &png[at + 4];
        const uint8_t* data = type + 4;
        if (crc32(crc32(0L, nullptr, 0), type, length + 4) != ReadUint32(data + length)) return std::nullopt;
        if (std::memcmp(type, "IHDR", 4) == 0 && length == 13) {
            header.width = ReadUint32(data);
            header.height = ReadUint32(data + 4);
            header.colourType = data[9];
            header.channels = ChannelsOf(data[9]);
            // 8 bits per sample, deflate, adaptive filters, no interlace only.
            if (data[8] != 8 || data[10] != 0 || data[11] != 0 || data[12] != 0 || !header.channels)
                return std::nullopt;
            if (header.width == 0 || header.height == 0 || header.width > 16384 || header.height > 16384)
                return std::nullopt;
            sawHeader = true;
        } else if (std::memcmp(type, "PLTE", 4) == 0) {
            palette.assign(data, data + length);
        } else if (std::memcmp(type, "tRNS", 4) == 0) {
            paletteAlpha.assign(data, data + length);
        } else if (std::memcmp(type, "IDAT", 4) == 0) {
            compressed.insert(compressed.end(), data, data + length);
        } else if (std::memcmp(type, "IEND", 4) == 0) {
            sawEnd = true;
        }
        at += 12 + size_t(length);
    }
    if (!sawHeader || !sawEnd) return std::nullopt;

    size_t rowBytes = size_t(header.width) * header.channels;
    std::vector<uint8_t> filtered((rowBytes + 1) * header.height);
    uLongf filteredSize = static_cast<uLongf>(filtered.size());
    if (uncompress(filtered.data(), &filteredSize, compressed.data(),
                   static_cast<uLong>(compressed.size())) != Z_OK ||
        filteredSize != filtered.size())
        return std::nullopt;
    std::vector<uint8_t> rows;
    if (!Unfilter(filtered, rowBytes, header.channels, header.height, rows)) return std::nullopt;
    return ToRgba(header, rows, palette, paletteAlpha);
}

std::optional<std::vector<uint8_t>> DecodeBase64(const std::string& text) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.size() % 4 != 0) return std::nullopt;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t group = 0;
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            char c = text[i + k];
            uint32_t value = 0;
            if (c == '=') {
                // Padding only at the end: one or two characters of the last group.
                if (i + 4 != text.size() || k < 2) return std::nullopt;
                ++padding;
            } else {
                const char* found = c ? std::strchr(kAlphabet, c) : nullptr;
                if (!found || padding) return std::nullopt;
                value = static_cast<uint32_t>(found - kAlphabet);
            }
            group = (group << 6) | value;
        }
        out.push_back(static_cast<uint8_t>(group >> 16));
        if (padding < 2) out.push_back(static_cast<uint8_t>(group >> 8));
        if (padding < 1) out.push_back(static_cast<uint8_t>(group));
    }
    return out;
}

std::optional<RgbaImage> DecodeBase64Png(const std::string& text) {
    auto bytes = DecodeBase64(text);
    if (!bytes) return std::nullopt;
    return DecodePng(*bytes);
}
