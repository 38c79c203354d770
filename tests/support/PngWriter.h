#pragma once
// Writes test pictures as 8-bit RGBA PNG files (zlib's deflate, no filters),
// so tests need no image library of their own.
#include <string>
#include <vector>

#include "support/RgbaImage.h"

std::vector<uint8_t> EncodePng(const RgbaImage& image);

// Writes the PNG to `path` (UTF-8); false when the file cannot be written.
bool WritePngFile(const std::string& path, const RgbaImage& image);
