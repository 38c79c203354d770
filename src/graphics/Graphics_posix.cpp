#include <cairo.h>

#include <stdexcept>
#include <vector>

#include "diagnostics/Platform.h"
#include "graphics/Base64.h"
#include "graphics/Graphics.h"

// The cairo back-end: every image is a cairo image surface in memory.
struct Graphics::Image {
    cairo_surface_t* surface;
};

namespace {

cairo_surface_t* LoadPng(const std::wstring& path) {
    std::string file;
    try {
        file = WideToUtf8(path);
    } catch (const std::range_error&) {
        return nullptr;
    }
    if (file.empty()) return nullptr;
    cairo_surface_t* surface = cairo_image_surface_create_from_png(file.c_str());
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    return surface;
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

cairo_status_t AppendToBuffer(void* closure, const unsigned char* data, unsigned int length) {
    auto* buffer = static_cast<std::vector<unsigned char>*>(closure);
    buffer->insert(buffer->end(), data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

Graphics::Graphics(const std::wstring& path) {
    if (cairo_surface_t* surface = LoadPng(path)) {
        m_image = new Image{surface};
    } else {
        LogLoadFailure(path);
    }
}

Graphics::Graphics(const Graphics& other) {
    if (!other.m_image) return;
    if (cairo_surface_t* copy = CopySurface(other.m_image->surface)) m_image = new Image{copy};
}

Graphics::~Graphics() {
    if (!m_image) return;
    cairo_surface_destroy(m_image->surface);
    delete m_image;
}

unsigned Graphics::Width() const {
    return m_image ? static_cast<unsigned>(cairo_image_surface_get_width(m_image->surface)) : 0;
}

unsigned Graphics::Height() const {
    return m_image ? static_cast<unsigned>(cairo_image_surface_get_height(m_image->surface)) : 0;
}

void Graphics::Compose(const Graphics& overlay) {
    if (!m_image || !overlay.m_image || overlay.Width() == 0 || overlay.Height() == 0) return;
    cairo_t* cr = cairo_create(m_image->surface);
    cairo_scale(cr, static_cast<double>(Width()) / overlay.Width(),
                static_cast<double>(Height()) / overlay.Height());
    cairo_set_source_surface(cr, overlay.m_image->surface, 0, 0);
    // Padding instead of transparency beyond the overlay's border, so that a
    // scaled overlay's edge pixels are not faded into the base.
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(m_image->surface);
}

bool Graphics::ToBase64Png(std::string& output) const {
    if (!m_image) return false;
    std::vector<unsigned char> png;
    if (cairo_surface_write_to_png_stream(m_image->surface, AppendToBuffer, &png) != CAIRO_STATUS_SUCCESS)
        return false;
    output = EncodeBase64(png.data(), png.size());
    return true;
}
