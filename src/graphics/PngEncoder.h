#pragma once
// PNG encoding of a key image held as premultiplied 32-bit pixels (cairo's
// image format: one native-endian uint32 per pixel, alpha in the top byte,
// colours already multiplied by it). The colours are divided by alpha again
// with the rounding cairo's own PNG writer uses, so the file decodes to the
// same pixels as cairo's encoding of the same surface.
//
// Every row goes unfiltered into one zlib stream at level 3: on the plug-in's
// key images (large flat areas, transparent borders) that is both smaller and
// about three times quicker than libpng's adaptive filters at level 6, which
// a key redraw otherwise spends most of its time in. Rows are converted a
// band at a time and compressed straight into the file, with zlib's buffers
// kept small, so an encoding touches no block as large as the image.
//
// Threads: none of its own; a plain function of its inputs.
#include <cstddef>
#include <cstdint>
#include <vector>

struct PngPixels {
    const uint32_t* data = nullptr;  // first row
    unsigned width = 0;
    unsigned height = 0;
    size_t stride = 0;  // uint32 values from one row to the next
    bool alpha = true;  // false: the top byte is unused, the image is opaque (RGB)
};

// Appends the whole PNG file to `png`. False (and `png` as it was) when the
// image is empty or zlib fails.
bool EncodePng(const PngPixels& pixels, std::vector<unsigned char>& png);
