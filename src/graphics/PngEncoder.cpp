#include "graphics/PngEncoder.h"

#include <zlib.h>

#include <cstring>

namespace {

constexpr int kDeflateLevel = 3;
constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr unsigned char kFilterNone = 0;

void PutUint32(std::vector<unsigned char>& out, uint32_t value) {
    out.push_back(static_cast<unsigned char>(value >> 24));
    out.push_back(static_cast<unsigned char>(value >> 16));
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

// Length, type, data, and the CRC of type and data.
void PutChunk(std::vector<unsigned char>& out, const char* type, const unsigned char* data, size_t size) {
    PutUint32(out, static_cast<uint32_t>(size));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (size) out.insert(out.end(), data, data + size);
    const uLong crc = crc32(0L, out.data() + typeAt, static_cast<uInt>(4 + size));
    PutUint32(out, static_cast<uint32_t>(crc));
}

// cairo's rounding (cairo-png.c): the nearest value, halves up.
unsigned char Unpremultiply(uint32_t channel, uint32_t alpha) {
    return static_cast<unsigned char>((channel * 255 + alpha / 2) / alpha);
}

// Each row as the filter byte and RGBA or RGB bytes.
std::vector<unsigned char> Scanlines(const PngPixels& pixels) {
    const size_t channels = pixels.alpha ? 4 : 3;
    const size_t rowBytes = 1 + pixels.width * channels;
    std::vector<unsigned char> raw(rowBytes * pixels.height);
    for (unsigned y = 0; y < pixels.height; ++y) {
        const uint32_t* row = pixels.data + y * pixels.stride;
        unsigned char* out = raw.data() + y * rowBytes;
        *out++ = kFilterNone;
        for (unsigned x = 0; x < pixels.width; ++x) {
            const uint32_t pixel = row[x];
            uint32_t a = pixels.alpha ? pixel >> 24 : 255;
            uint32_t r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
            if (a == 0) {
                r = g = b = 0;
            } else if (a != 255) {
                r = Unpremultiply(r, a), g = Unpremultiply(g, a), b = Unpremultiply(b, a);
            }
            *out++ = static_cast<unsigned char>(r);
            *out++ = static_cast<unsigned char>(g);
            *out++ = static_cast<unsigned char>(b);
            if (pixels.alpha) *out++ = static_cast<unsigned char>(a);
        }
    }
    return raw;
}

bool Deflate(const std::vector<unsigned char>& raw, std::vector<unsigned char>& compressed) {
    z_stream stream{};
    if (deflateInit(&stream, kDeflateLevel) != Z_OK) return false;
    compressed.resize(deflateBound(&stream, static_cast<uLong>(raw.size())));
    stream.next_in = const_cast<Bytef*>(raw.data());
    stream.avail_in = static_cast<uInt>(raw.size());
    stream.next_out = compressed.data();
    stream.avail_out = static_cast<uInt>(compressed.size());
    const bool done = deflate(&stream, Z_FINISH) == Z_STREAM_END;
    compressed.resize(stream.total_out);
    deflateEnd(&stream);
    return done;
}

}  // namespace

bool EncodePng(const PngPixels& pixels, std::vector<unsigned char>& png) {
    if (!pixels.data || pixels.width == 0 || pixels.height == 0 || pixels.stride < pixels.width) return false;
    std::vector<unsigned char> compressed;
    if (!Deflate(Scanlines(pixels), compressed)) return false;

    std::vector<unsigned char> header;
    PutUint32(header, pixels.width);
    PutUint32(header, pixels.height);
    const unsigned char colourType = pixels.alpha ? 6 : 2;  // RGBA or RGB, 8 bits a channel
    header.insert(header.end(), {8, colourType, 0, 0, 0});  // deflate, adaptive filtering, no interlace

    png.reserve(png.size() + sizeof kSignature + 25 + compressed.size() + 12 + 12);
    png.insert(png.end(), kSignature, kSignature + sizeof kSignature);
    PutChunk(png, "IHDR", header.data(), header.size());
    PutChunk(png, "IDAT", compressed.data(), compressed.size());
    PutChunk(png, "IEND", nullptr, 0);
    return true;
}
