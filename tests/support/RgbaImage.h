#pragma once
// A plain 8-bit RGBA picture for tests: rows top to bottom, 4 bytes a pixel.
#include <array>
#include <cstdint>
#include <vector>

struct RgbaImage {
    using Pixel = std::array<uint8_t, 4>;  // r, g, b, a (not premultiplied)

    unsigned width = 0;
    unsigned height = 0;
    std::vector<uint8_t> pixels;

    RgbaImage() = default;
    RgbaImage(unsigned w, unsigned h, Pixel fill) : width(w), height(h), pixels(size_t(w) * h * 4) {
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x) Set(x, y, fill);
    }

    Pixel At(unsigned x, unsigned y) const {
        const uint8_t* p = &pixels[(size_t(y) * width + x) * 4];
        return {p[0], p[1], p[2], p[3]};
    }
    void Set(unsigned x, unsigned y, Pixel value) {
        uint8_t* p = &pixels[(size_t(y) * width + x) * 4];
        for (int i = 0; i < 4; ++i) p[i] = value[i];
    }
    // Fills the rectangle [x0, x1) x [y0, y1).
    void Fill(unsigned x0, unsigned y0, unsigned x1, unsigned y1, Pixel value) {
        for (unsigned y = y0; y < y1; ++y)
            for (unsigned x = x0; x < x1; ++x) Set(x, y, value);
    }
};
