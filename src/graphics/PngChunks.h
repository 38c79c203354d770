#pragma once
// Checks the chunk structure of a PNG file without decoding its pixels: the
// signature, an IHDR chunk first, every chunk whole with its CRC right, and
// an IEND chunk last. A file cut short or altered anywhere fails; the pixels
// themselves are left to the decoder. Loading a key image this way costs
// microseconds where decoding it costs a few hundred.
//
// Threads: none of its own; a plain function of its input.
#include <vector>

struct PngSize {
    unsigned width = 0;
    unsigned height = 0;
};

// True when `png` is an intact PNG file of a non-empty image no larger than
// the back-end can hold; `size` is then its size.
bool ReadIntactPng(const std::vector<unsigned char>& png, PngSize& size);
