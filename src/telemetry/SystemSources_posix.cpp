#include "telemetry/SystemSources.h"

#include <sys/random.h>

#include <chrono>
#include <cstdio>

namespace {

bool FillRandom(unsigned char* bytes, size_t length) {
    size_t filled = 0;
    while (filled < length) {
        ssize_t got = getrandom(bytes + filled, length - filled, 0);
        if (got <= 0) return false;
        filled += static_cast<size_t>(got);
    }
    return true;
}

}  // namespace

uint64_t ClockNanoseconds() {
    auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count());
}

std::string NewGuidText() {
    unsigned char b[16] = {};
    if (!FillRandom(b, sizeof b)) return "";
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4: random
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text;
}

std::string RandomNumberText() {
    unsigned char bytes[8] = {};
    if (!FillRandom(bytes, sizeof bytes)) return "0";
    unsigned long long number = 0;
    for (unsigned char byte : bytes) number = (number << 8) | byte;
    char text[17];
    std::snprintf(text, sizeof text, "%llX", number);
    return text;
}

const char* OperatingSystemName() {
    return "Linux";
}
