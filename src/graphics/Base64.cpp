#include "graphics/Base64.h"

#include <cstdint>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

// Written into a string of its final size, three bytes at a time: a key
// image's 6-9 KB are encoded for every "setImage".
std::string EncodeBase64(const unsigned char* data, size_t size) {
    std::string text((size + 2) / 3 * 4, '=');
    char* out = text.data();
    size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const uint32_t group = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
        *out++ = kAlphabet[group >> 18];
        *out++ = kAlphabet[(group >> 12) & 0x3F];
        *out++ = kAlphabet[(group >> 6) & 0x3F];
        *out++ = kAlphabet[group & 0x3F];
    }
    if (i < size) {  // one or two bytes left; the '=' already stand at the end
        const uint32_t group = uint32_t(data[i]) << 16 | (i + 1 < size ? uint32_t(data[i + 1]) << 8 : 0);
        *out++ = kAlphabet[group >> 18];
        *out++ = kAlphabet[(group >> 12) & 0x3F];
        if (i + 1 < size) *out = kAlphabet[(group >> 6) & 0x3F];
    }
    return text;
}
