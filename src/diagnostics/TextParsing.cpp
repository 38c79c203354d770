#include "diagnostics/TextParsing.h"

#include <climits>
#include <cstdint>

int ParseLeadingInt(const char* text) {
    if (text == nullptr) return 0;
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = (*text++ == '-');
    int64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<int64_t>(INT_MAX) + 1) break;  // saturated; later digits cannot matter
    }
    if (negative) return value > static_cast<int64_t>(INT_MAX) ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

size_t Utf8SequenceLength(const unsigned char* text, size_t size, size_t i) {
    const unsigned char lead = text[i];
    if (lead < 0x80) return 1;
    size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || size - i < length) return 0;
    // The second byte's range excludes overlong forms, surrogates and code points past U+10FFFF.
    const unsigned char second = text[i + 1];
    unsigned char low = 0x80, high = 0xBF;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    if (second < low || second > high) return 0;
    for (size_t k = 2; k < length; ++k) {
        if ((text[i + k] & 0xC0) != 0x80) return 0;
    }
    return length;
}

bool IsUtf8(const std::string& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        size_t length = Utf8SequenceLength(bytes, text.size(), i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}
