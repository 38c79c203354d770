#pragma once
#include <cstddef>
#include <string>

// Reads a decimal integer the way the C library's atoi reads one: leading
// white space, an optional sign, then digits up to the first non-digit; text
// without digits gives 0. Out-of-range values saturate at the 32-bit limits
// (what the Windows runtime's atoi does) instead of being undefined.
int ParseLeadingInt(const char* text);

// The length of the well-formed UTF-8 sequence that starts at |text| + |i|
// (1 for ASCII, up to 4), or 0 when the bytes there are not one: a stray
// continuation byte, a sequence cut short, an overlong form, a surrogate or a
// code point beyond U+10FFFF. |i| must be less than |size|.
size_t Utf8SequenceLength(const unsigned char* text, size_t size, size_t i);

// Whether all of |text| is well-formed UTF-8.
bool IsUtf8(const std::string& text);
