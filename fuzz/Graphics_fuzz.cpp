#include <cstdio>
#include <cstring>

#include "diagnostics/Platform.h"
#include "graphics/Graphics.h"

// The key-image back-end of the fuzz targets that redraw keys on every input
// (host, controller and sequence messages). The elements, their choice of
// images and overlays, and the setImage commands stay the product's own; only
// the pixels are left out: an image is its size, read from the file's PNG
// header, and every encoding is one small valid PNG. The real decoding,
// composing and encoding would cost more than all else an input does, and
// the action settings target still runs them through the cairo back-end.
//
// Those targets choose it in place of the cairo back-end by their
// KESTREL_GRAPHICS_BACKEND property (fuzz/CMakeLists.txt).
struct Graphics::Image {
    unsigned width;
    unsigned height;
};

namespace {

// A 1x1 transparent PNG.
const char kEncodedPng[] =
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAAC0lEQVR42mNgAAIAAAUAAen63NgAAAAASUVORK5CYII=";

// The width and height from the IHDR chunk of a PNG file; false when the
// file cannot be read or does not start as a PNG does.
bool ReadPngSize(const std::filesystem::path& path, unsigned& width, unsigned& height) {
    FILE* stream = path.empty() ? nullptr : OpenFile(path, "rb");
    if (!stream) return false;
    unsigned char header[24];
    const bool read = std::fread(header, 1, sizeof header, stream) == sizeof header;
    std::fclose(stream);
    if (!read || std::memcmp(header, "\x89PNG\r\n\x1a\n", 8) != 0 || std::memcmp(header + 12, "IHDR", 4) != 0)
        return false;
    auto bigEndian = [&](int at) {
        return (unsigned(header[at]) << 24) | (unsigned(header[at + 1]) << 16) |
               (unsigned(header[at + 2]) << 8) | unsigned(header[at + 3]);
    };
    width = bigEndian(16);
    height = bigEndian(20);
    return width != 0 && height != 0;
}

}  // namespace

Graphics::Graphics(const std::filesystem::path& path, Keep) {
    unsigned width = 0, height = 0;
    if (!ReadPngSize(path, width, height)) {
        LogLoadFailure(path);
        return;
    }
    m_image = new Image{width, height};
}

Graphics::Graphics(const Graphics& other) {
    if (other.m_image) m_image = new Image(*other.m_image);
}

Graphics::~Graphics() {
    delete m_image;
}

unsigned Graphics::Width() const {
    return m_image ? m_image->width : 0;
}

unsigned Graphics::Height() const {
    return m_image ? m_image->height : 0;
}

void Graphics::Compose(const Graphics&) {}

void Graphics::FillRect(double, double, double, double, uint32_t) {}

// Nothing is decoded here, so there is nothing to keep.
void Graphics::HoldDecodedPixels() const {}

void Graphics::ReleaseDecodedPixels() const {}

// Every image here is only its size and the one small encoding, so holding
// the encoding changes nothing; true keeps the elements' composite path fuzzed.
bool Graphics::HoldEncoded() {
    return m_image != nullptr;
}

bool Graphics::ToBase64Png(std::string& output) const {
    if (!m_image) return false;
    output = kEncodedPng;
    return true;
}
