#pragma once
// Base64 of RFC 4648: standard alphabet, '=' padding, no line breaks.
#include <cstddef>
#include <string>

std::string EncodeBase64(const unsigned char* data, size_t size);
