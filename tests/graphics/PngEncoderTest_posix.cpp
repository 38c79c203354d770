// The cairo back-end's own PNG encoder against cairo's: the same surface must
// decode to the same pixels (decoded by the tests' own decoder), and the key
// images must not grow.

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "PluginImageNames.h"
#include "diagnostics/Platform.h"
#include "graphics/PngEncoder.h"
#include "graphics/ResolveModulePath.h"
#include "support/PngDecoder.h"

namespace {

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::vector<uint8_t>*>(closure)->insert(static_cast<std::vector<uint8_t>*>(closure)->end(),
                                                        data, data + length);
    return CAIRO_STATUS_SUCCESS;
}

std::vector<uint8_t> CairoPng(cairo_surface_t* surface) {
    std::vector<uint8_t> png;
    EXPECT_EQ(cairo_surface_write_to_png_stream(surface, Append, &png), CAIRO_STATUS_SUCCESS);
    return png;
}

PngPixels PixelsOf(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    PngPixels pixels;
    pixels.data = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface));
    pixels.width = static_cast<unsigned>(cairo_image_surface_get_width(surface));
    pixels.height = static_cast<unsigned>(cairo_image_surface_get_height(surface));
    pixels.stride = static_cast<size_t>(cairo_image_surface_get_stride(surface)) / 4;
    pixels.alpha = cairo_image_surface_get_format(surface) == CAIRO_FORMAT_ARGB32;
    return pixels;
}

std::vector<uint8_t> OurPng(cairo_surface_t* surface) {
    std::vector<uint8_t> png;
    EXPECT_TRUE(EncodePng(PixelsOf(surface), png));
    return png;
}

void ExpectSamePixels(const std::vector<uint8_t>& ours, const std::vector<uint8_t>& cairos) {
    auto decodedOurs = DecodePng(ours);
    auto decodedCairos = DecodePng(cairos);
    ASSERT_TRUE(decodedOurs.has_value()) << "our PNG does not decode";
    ASSERT_TRUE(decodedCairos.has_value());
    ASSERT_EQ(decodedOurs->width, decodedCairos->width);
    ASSERT_EQ(decodedOurs->height, decodedCairos->height);
    for (unsigned y = 0; y < decodedOurs->height; ++y) {
        for (unsigned x = 0; x < decodedOurs->width; ++x) {
            auto a = decodedOurs->At(x, y), b = decodedCairos->At(x, y);
            ASSERT_EQ(a, b) << "pixel " << x << "," << y << ": (" << int(a[0]) << "," << int(a[1]) << ","
                            << int(a[2]) << "," << int(a[3]) << ") against cairo's (" << int(b[0]) << ","
                            << int(b[1]) << "," << int(b[2]) << "," << int(b[3]) << ")";
        }
    }
}

TEST(PngEncoderTest, EveryPremultipliedPixelDecodesAsCairosEncodingDoes) {
    // Every alpha, with colours from nothing to the most alpha allows, as
    // cairo holds them; and an opaque surface, written as RGB.
    cairo_surface_t* translucent = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 256, 9);
    cairo_surface_t* opaque = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 37, 5);
    cairo_surface_flush(translucent);
    auto* data = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(translucent));
    const size_t stride = cairo_image_surface_get_stride(translucent) / 4;
    for (uint32_t a = 0; a < 256; ++a) {
        for (uint32_t y = 0; y < 9; ++y) {
            const uint32_t r = a * y / 8, g = a - r, b = (a * (7 * a + y)) / (8 * 255 + 2040);
            data[y * stride + a] = a << 24 | r << 16 | g << 8 | b;
        }
    }
    cairo_surface_mark_dirty(translucent);
    cairo_t* cr = cairo_create(opaque);
    cairo_set_source_rgb(cr, 0.2, 0.7, 0.9);
    cairo_paint(cr);
    cairo_destroy(cr);

    ExpectSamePixels(OurPng(translucent), CairoPng(translucent));
    ExpectSamePixels(OurPng(opaque), CairoPng(opaque));
    auto decoded = DecodePng(OurPng(opaque));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->At(36, 4)[3], 255) << "an opaque image stays opaque";
    cairo_surface_destroy(translucent);
    cairo_surface_destroy(opaque);
}

TEST(PngEncoderTest, RowsFollowTheStrideAndNothingIsWrittenForNoImage) {
    // The left 3 of 5 pixels a row: what lies beyond the width is not drawn.
    const uint32_t red = 0xFFFF0000, blue = 0xFF0000FF, junk = 0x80123456;
    std::vector<uint32_t> rows = {red,  blue, red,  junk, junk,  //
                                  blue, red,  blue, junk, junk};
    PngPixels pixels{rows.data(), 3, 2, 5, true};
    std::vector<uint8_t> png = {1, 2, 3};  // appended to
    ASSERT_TRUE(EncodePng(pixels, png));
    ASSERT_EQ(std::vector<uint8_t>(png.begin(), png.begin() + 3), (std::vector<uint8_t>{1, 2, 3}));
    auto decoded = DecodePng(std::vector<uint8_t>(png.begin() + 3, png.end()));
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->width, 3u);
    ASSERT_EQ(decoded->height, 2u);
    EXPECT_EQ(decoded->At(2, 0), (RgbaImage::Pixel{255, 0, 0, 255}));
    EXPECT_EQ(decoded->At(2, 1), (RgbaImage::Pixel{0, 0, 255, 255}));

    std::vector<uint8_t> untouched = {7};
    EXPECT_FALSE(EncodePng(PngPixels{rows.data(), 0, 2, 5, true}, untouched));
    EXPECT_FALSE(EncodePng(PngPixels{nullptr, 3, 2, 5, true}, untouched));
    EXPECT_FALSE(EncodePng(PngPixels{rows.data(), 6, 2, 5, true}, untouched)) << "rows overlap";
    EXPECT_EQ(untouched, std::vector<uint8_t>{7});
}

TEST(PngEncoderTest, AnImageThatDoesNotCompressComesOutWhole) {
    // Noise compresses to more than the first room given to the compressed
    // rows, several times over, and its height is no whole number of the
    // bands the rows are compressed in.
    cairo_surface_t* noise = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 211, 77);
    cairo_surface_flush(noise);
    auto* data = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(noise));
    const size_t stride = cairo_image_surface_get_stride(noise) / 4;
    std::mt19937 random(5);
    for (size_t y = 0; y < 77; ++y) {
        for (size_t x = 0; x < 211; ++x) {
            const uint32_t a = random() % 256;
            const uint32_t r = a ? random() % (a + 1) : 0, g = a ? random() % (a + 1) : 0;
            const uint32_t b = a ? random() % (a + 1) : 0;
            data[y * stride + x] = a << 24 | r << 16 | g << 8 | b;
        }
    }
    cairo_surface_mark_dirty(noise);
    const std::vector<uint8_t> ours = OurPng(noise);
    EXPECT_GT(ours.size(), 40000u);
    ExpectSamePixels(ours, CairoPng(noise));
    cairo_surface_destroy(noise);
}

TEST(PngEncoderTest, KeyImagesDecodeAsCairosEncodingAndAreNoLarger) {
    // The plug-in's own images, plain and under a status overlay: the
    // "setImage" messages must not grow with the quicker encoding.
    cairo_surface_t* overlay =
        cairo_image_surface_create_from_png(ResolveModulePath(std::string("state_offline.png")).c_str());
    ASSERT_EQ(cairo_surface_status(overlay), CAIRO_STATUS_SUCCESS);
    size_t ourTotal = 0, cairoTotal = 0;
    for (const char* name : kPluginImageNames) {
        SCOPED_TRACE(name);
        cairo_surface_t* key =
            cairo_image_surface_create_from_png(ResolveModulePath(std::string(name)).c_str());
        ASSERT_EQ(cairo_surface_status(key), CAIRO_STATUS_SUCCESS);
        for (int overlaid = 0; overlaid < 2; ++overlaid) {
            if (overlaid) {
                cairo_t* cr = cairo_create(key);
                cairo_set_source_surface(cr, overlay, 0, 0);
                cairo_paint(cr);
                cairo_destroy(cr);
            }
            const std::vector<uint8_t> ours = OurPng(key), cairos = CairoPng(key);
            ExpectSamePixels(ours, cairos);
            ourTotal += ours.size();
            cairoTotal += cairos.size();
        }
        cairo_surface_destroy(key);
    }
    cairo_surface_destroy(overlay);
    EXPECT_LE(ourTotal, cairoTotal) << "ours " << ourTotal << " B, cairo's " << cairoTotal << " B";
}

}  // namespace
