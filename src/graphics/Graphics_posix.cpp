#include <cairo.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "diagnostics/Platform.h"
#include "graphics/Base64.h"
#include "graphics/Graphics.h"
#include "graphics/PngChunks.h"
#include "graphics/PngEncoder.h"

// The cairo back-end. An image kept as Keep::FileBytes holds PNG bytes
// (about 6 KB for a key) instead of its decoded pixels (83 KB at 144x144);
// each use as an overlay, and drawing on a copy, decodes them afresh, which
// gives exactly the pixels of a file load. Copies of such an image hold the
// bytes too until they are drawn on; from then on an image holds a cairo image
// surface. The first encoding replaces the file's bytes with the plug-in's own
// encoding of the same pixels (it decodes to the same pixels), so that every
// later encoding of a plain key is the kept bytes as they are. bytesLock makes
// that one change safe while several threads read one kept image. While its
// decoded pixels are held (HoldDecodedPixels), such an image keeps its first
// decoding for its later uses as an overlay.
struct Graphics::Image {
    Image(cairo_surface_t* pixels, std::vector<unsigned char> bytes, bool ownEncoding, int w, int h)
        : surface(pixels), png(std::move(bytes)), canonical(ownEncoding), width(w), height(h) {}

    // A reference to the pixels that the caller releases: the surface, the
    // decoding kept while held, or a new decoding. Null when they do not decode.
    cairo_surface_t* AcquirePixels();
    // Drawn on, an image holds its pixels from then on; false when they do not decode.
    bool HoldPixels();

    cairo_surface_t* surface = nullptr;  // the pixels; null while only the PNG bytes are kept
    std::mutex bytesLock;                // guards png, canonical, decoded and holds while there is no surface
    std::vector<unsigned char> png;      // the PNG bytes while there is no surface
    bool canonical = false;              // png is our encoding of the pixels, not the file's
    cairo_surface_t* decoded = nullptr;  // png's pixels, kept while holds > 0
    int holds = 0;
    int width = 0;
    int height = 0;
};

namespace {

struct PngReader {
    const std::vector<unsigned char>* bytes;
    size_t offset;
};

cairo_status_t ReadFromBytes(void* closure, unsigned char* data, unsigned int length) {
    auto* reader = static_cast<PngReader*>(closure);
    if (reader->bytes->size() - reader->offset < length) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(data, reader->bytes->data() + reader->offset, length);
    reader->offset += length;
    return CAIRO_STATUS_SUCCESS;
}

// A new surface decoded from PNG bytes; null when they do not decode.
cairo_surface_t* DecodePng(const std::vector<unsigned char>& bytes) {
    PngReader reader{&bytes, 0};
    cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(ReadFromBytes, &reader);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return surface;
}

bool ReadFile(const std::filesystem::path& path, std::vector<unsigned char>& bytes) {
    if (path.empty()) return false;
    FILE* stream = OpenFile(path, "rb");
    if (!stream) return false;
    unsigned char block[8192];
    size_t count = 0;
    while ((count = std::fread(block, 1, sizeof block, stream)) > 0)
        bytes.insert(bytes.end(), block, block + count);
    bool complete = !std::ferror(stream);
    std::fclose(stream);
    return complete;
}

cairo_surface_t* CopySurface(cairo_surface_t* source) {
    cairo_surface_t* copy = cairo_image_surface_create(cairo_image_surface_get_format(source),
                                                       cairo_image_surface_get_width(source),
                                                       cairo_image_surface_get_height(source));
    cairo_t* cr = cairo_create(copy);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, source, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    if (cairo_surface_status(copy) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(copy);
        return nullptr;
    }
    return copy;
}

bool EncodeSurface(cairo_surface_t* pixels, std::vector<unsigned char>& png) {
    const cairo_format_t format = cairo_image_surface_get_format(pixels);
    if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) return false;
    cairo_surface_flush(pixels);
    PngPixels image;
    image.data = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(pixels));
    image.width = static_cast<unsigned>(cairo_image_surface_get_width(pixels));
    image.height = static_cast<unsigned>(cairo_image_surface_get_height(pixels));
    image.stride = static_cast<size_t>(cairo_image_surface_get_stride(pixels)) / sizeof(uint32_t);
    image.alpha = format == CAIRO_FORMAT_ARGB32;
    return EncodePng(image, png);
}

// Replaces kept file bytes with our encoding of their pixels, once; the
// caller holds bytesLock. False when the bytes do not decode or encode.
bool KeepOwnEncoding(std::vector<unsigned char>& png, bool& canonical) {
    if (canonical) return true;
    cairo_surface_t* pixels = DecodePng(png);
    std::vector<unsigned char> encoded;
    bool done = pixels && EncodeSurface(pixels, encoded);
    if (pixels) cairo_surface_destroy(pixels);
    if (!done) return false;
    encoded.shrink_to_fit();
    png.swap(encoded);
    canonical = true;
    return true;
}

}  // namespace

cairo_surface_t* Graphics::Image::AcquirePixels() {
    if (surface) return cairo_surface_reference(surface);
    std::lock_guard<std::mutex> lock(bytesLock);
    if (decoded) return cairo_surface_reference(decoded);
    cairo_surface_t* pixels = DecodePng(png);
    if (pixels && holds > 0) decoded = cairo_surface_reference(pixels);
    return pixels;
}

bool Graphics::Image::HoldPixels() {
    if (surface) return true;
    std::lock_guard<std::mutex> lock(bytesLock);
    // Nobody else uses an image while it is drawn on, so a kept decoding
    // becomes its own.
    surface = decoded ? decoded : DecodePng(png);
    decoded = nullptr;
    if (!surface) return false;
    std::vector<unsigned char>().swap(png);
    return true;
}

Graphics::Graphics(const std::filesystem::path& path, Keep keep) {
    std::vector<unsigned char> bytes;
    const bool read = ReadFile(path, bytes);
    if (keep == Keep::FileBytes) {
        // Decoded at its first use: the plug-in's start loads every key's image.
        PngSize size;
        if (!read || !ReadIntactPng(bytes, size)) {
            LogLoadFailure(path);
            return;
        }
        bytes.shrink_to_fit();
        m_image = new Image(nullptr, std::move(bytes), false, static_cast<int>(size.width),
                            static_cast<int>(size.height));
        return;
    }
    cairo_surface_t* surface = read ? DecodePng(bytes) : nullptr;
    if (!surface) {
        LogLoadFailure(path);
        return;
    }
    m_image = new Image(surface, {}, false, cairo_image_surface_get_width(surface),
                        cairo_image_surface_get_height(surface));
}

Graphics::Graphics(const Graphics& other) {
    if (!other.m_image) return;
    Image& source = *other.m_image;
    if (source.surface) {
        if (cairo_surface_t* copy = CopySurface(source.surface))
            m_image = new Image(copy, {}, false, source.width, source.height);
        return;
    }
    // A copy is made to be drawn on, which decodes its bytes in any case;
    // a plain key is sent from the kept image itself, which keeps its own
    // encoding at the first send.
    std::lock_guard<std::mutex> lock(source.bytesLock);
    m_image = new Image(nullptr, source.png, source.canonical, source.width, source.height);
}

Graphics::~Graphics() {
    if (!m_image) return;
    if (m_image->surface) cairo_surface_destroy(m_image->surface);
    if (m_image->decoded) cairo_surface_destroy(m_image->decoded);
    delete m_image;
}

unsigned Graphics::Width() const {
    return m_image ? static_cast<unsigned>(m_image->width) : 0;
}

unsigned Graphics::Height() const {
    return m_image ? static_cast<unsigned>(m_image->height) : 0;
}

void Graphics::Compose(const Graphics& overlay) {
    if (!m_image || !overlay.m_image || overlay.Width() == 0 || overlay.Height() == 0) return;
    if (!m_image->HoldPixels()) return;
    cairo_surface_t* over = overlay.m_image->AcquirePixels();
    if (!over) return;
    cairo_t* cr = cairo_create(m_image->surface);
    cairo_scale(cr, static_cast<double>(Width()) / overlay.Width(),
                static_cast<double>(Height()) / overlay.Height());
    cairo_set_source_surface(cr, over, 0, 0);
    // Padding instead of transparency beyond the overlay's border, so that a
    // scaled overlay's edge pixels are not faded into the base.
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(over);
    cairo_surface_flush(m_image->surface);
}

void Graphics::FillRect(double left, double top, double width, double height, uint32_t argb) {
    if (!m_image || !m_image->HoldPixels()) return;
    cairo_t* cr = cairo_create(m_image->surface);
    cairo_rectangle(cr, left * Width(), top * Height(), width * Width(), height * Height());
    cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                          (argb & 0xFF) / 255.0, ((argb >> 24) & 0xFF) / 255.0);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_fill(cr);
    cairo_destroy(cr);
    cairo_surface_flush(m_image->surface);
}

void Graphics::HoldDecodedPixels() const {
    if (!m_image) return;
    std::lock_guard<std::mutex> lock(m_image->bytesLock);
    ++m_image->holds;
}

void Graphics::ReleaseDecodedPixels() const {
    if (!m_image) return;
    std::lock_guard<std::mutex> lock(m_image->bytesLock);
    if (m_image->holds == 0 || --m_image->holds > 0 || !m_image->decoded) return;
    cairo_surface_destroy(m_image->decoded);
    m_image->decoded = nullptr;
}

bool Graphics::HoldEncoded() {
    if (!m_image) return false;
    if (!m_image->surface) {
        std::lock_guard<std::mutex> lock(m_image->bytesLock);
        return KeepOwnEncoding(m_image->png, m_image->canonical);
    }
    std::vector<unsigned char> png;
    if (!EncodeSurface(m_image->surface, png)) return false;
    png.shrink_to_fit();
    cairo_surface_destroy(m_image->surface);
    m_image->surface = nullptr;
    m_image->png.swap(png);
    m_image->canonical = true;
    return true;
}

bool Graphics::ToBase64Png(std::string& output) const {
    if (!m_image) return false;
    std::vector<unsigned char> png;
    if (!m_image->surface) {
        // The file's own bytes may differ from our encoding of the same
        // pixels: the first encoding keeps ours, so that the output is the
        // same whichever way the image is kept, and later ones cost no work.
        std::lock_guard<std::mutex> lock(m_image->bytesLock);
        if (!KeepOwnEncoding(m_image->png, m_image->canonical)) return false;
        output = EncodeBase64(m_image->png.data(), m_image->png.size());
        return true;
    }
    if (!EncodeSurface(m_image->surface, png)) return false;
    output = EncodeBase64(png.data(), png.size());
    return true;
}
