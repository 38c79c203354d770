#pragma once
// A small PNG and Base64 decoder for tests, independent of the image code
// under test: 8-bit grey, grey+alpha, RGB, RGBA and palette images, not
// interlaced, with every chunk's CRC checked. Anything else gives nothing.
#include <optional>
#include <string>
#include <vector>

#include "support/RgbaImage.h"

std::optional<RgbaImage> DecodePng(const std::vector<uint8_t>& png);

// Strict RFC 4648 Base64 (standard alphabet, padded to a multiple of four, no
// white space); nothing for any other text.
std::optional<std::vector<uint8_t>> DecodeBase64(const std::string& text);

// DecodeBase64 then DecodePng.
std::optional<RgbaImage> DecodeBase64Png(const std::string& text);
