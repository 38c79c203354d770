#include "graphics/Base64.h"

// The only translation unit that includes websocketpp for its encoder.
#include <websocketpp/base64/base64.hpp>

std::string EncodeBase64(const unsigned char* data, size_t size) {
    return websocketpp::base64_encode(data, size);
}
