#include "graphics/PngEncoder.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kDeflateLevel = 3;
// An 8 KB window (14 rows of a 144-pixel key, so the row above is always in
// reach) and a 16 KB hash: every zlib buffer stays under the heap's mapping
// threshold, so a round of redraws reuses the same heap pages instead of
// mapping and faulting in 256 KB per key. The key images come out the same
// size within 2 %.
constexpr int kWindowBits = 13;
constexpr int kMemoryLevel = 6;
// Rows are converted and compressed a band at a time, never the whole image.
constexpr unsigned kBandRows = 16;
// The compressed data's first room (a key image takes 4-9 KB), and the least it grows by.
constexpr size_t kOutputStep = 12 * 1024;
constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr unsigned char kFilterNone = 0;

void PutUint32(unsigned char* out, uint32_t value) {
    out[0] = static_cast<unsigned char>(value >> 24);
    out[1] = static_cast<unsigned char>(value >> 16);
    out[2] = static_cast<unsigned char>(value >> 8);
    out[3] = static_cast<unsigned char>(value);
}

void PutUint32(std::vector<unsigned char>& out, uint32_t value) {
    unsigned char bytes[4];
    PutUint32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

// The CRC of a chunk's type and data, which start at |typeAt|, appended.
void PutCrc(std::vector<unsigned char>& out, size_t typeAt) {
    PutUint32(out,
              static_cast<uint32_t>(crc32(0L, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt))));
}

// Length, type, data, and the CRC of type and data.
void PutChunk(std::vector<unsigned char>& out, const char* type, const unsigned char* data, size_t size) {
    PutUint32(out, static_cast<uint32_t>(size));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (size) out.insert(out.end(), data, data + size);
    PutCrc(out, typeAt);
}

// cairo's rounding (cairo-png.c): the nearest value, halves up.
unsigned char Unpremultiply(uint32_t channel, uint32_t alpha) {
    return static_cast<unsigned char>((channel * 255 + alpha / 2) / alpha);
}

// Row |y| as the filter byte and RGBA or RGB bytes.
void Scanline(const PngPixels& pixels, unsigned y, unsigned char* out) {
    const uint32_t* row = pixels.data + y * pixels.stride;
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

// Compresses the stream's input into |out| from |used| on, growing |out| as
// it fills; with Z_FINISH until the stream ends. False when zlib fails.
bool Compress(z_stream& stream, int flush, std::vector<unsigned char>& out, size_t& used) {
    for (;;) {
        if (used == out.size()) out.resize(out.size() + std::max(kOutputStep, out.size() / 2));
        stream.next_out = out.data() + used;
        stream.avail_out = static_cast<uInt>(out.size() - used);
        const int result = deflate(&stream, flush);
        used = out.size() - stream.avail_out;
        if (result == Z_STREAM_END) return true;
        if (result != Z_OK && result != Z_BUF_ERROR) return false;
        if (flush != Z_FINISH && stream.avail_in == 0 && stream.avail_out != 0) return true;
    }
}

// Appends the zlib stream of every row to |out|.
bool DeflateRows(const PngPixels& pixels, std::vector<unsigned char>& out) {
    z_stream stream{};
    if (deflateInit2(&stream, kDeflateLevel, Z_DEFLATED, kWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        return false;
    const size_t rowBytes = 1 + pixels.width * (pixels.alpha ? 4 : 3);
    std::vector<unsigned char> band(rowBytes * std::min(kBandRows, pixels.height));
    size_t used = out.size();
    bool done = true;
    for (unsigned y = 0; done && y < pixels.height; y += kBandRows) {
        const unsigned rows = std::min(kBandRows, pixels.height - y);
        for (unsigned i = 0; i < rows; ++i) Scanline(pixels, y + i, band.data() + i * rowBytes);
        stream.next_in = band.data();
        stream.avail_in = static_cast<uInt>(rows * rowBytes);
        done = Compress(stream, y + rows == pixels.height ? Z_FINISH : Z_NO_FLUSH, out, used);
    }
    deflateEnd(&stream);
    out.resize(used);
    return done;
}

}  // namespace

bool EncodePng(const PngPixels& pixels, std::vector<unsigned char>& png) {
    if (!pixels.data || pixels.width == 0 || pixels.height == 0 || pixels.stride < pixels.width) return false;
    std::vector<unsigned char> header;
    PutUint32(header, pixels.width);
    PutUint32(header, pixels.height);
    const unsigned char colourType = pixels.alpha ? 6 : 2;  // RGBA or RGB, 8 bits a channel
    header.insert(header.end(), {8, colourType, 0, 0, 0});  // deflate, adaptive filtering, no interlace

    const size_t start = png.size();
    png.insert(png.end(), kSignature, kSignature + sizeof kSignature);
    PutChunk(png, "IHDR", header.data(), header.size());
    // The rows are compressed straight into the IDAT chunk; its length is
    // written once it is known.
    const size_t lengthAt = png.size();
    PutUint32(png, 0);
    const char idat[] = "IDAT";
    png.insert(png.end(), idat, idat + 4);
    if (!DeflateRows(pixels, png)) {
        png.resize(start);
        return false;
    }
    PutUint32(png.data() + lengthAt, static_cast<uint32_t>(png.size() - lengthAt - 8));
    PutCrc(png, lengthAt + 4);
    PutChunk(png, "IEND", nullptr, 0);
    return true;
}
