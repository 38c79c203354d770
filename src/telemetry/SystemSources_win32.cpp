#include "telemetry/SystemSources.h"

#include <windows.h>
// windows.h first: the headers below rely on its types.
#include <bcrypt.h>
#include <objbase.h>

#include <cstdio>

#include "diagnostics/Platform.h"
#include "diagnostics/WideText_win32.h"

uint64_t ClockNanoseconds() {
    LARGE_INTEGER counter{}, frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    double nanoseconds =
        static_cast<double>(counter.QuadPart) * 1000000000.0 / static_cast<double>(frequency.QuadPart);
    return static_cast<uint64_t>(nanoseconds);
}

std::string NewGuidText() {
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid))) return "";
    wchar_t text[40] = {};
    int length = StringFromGUID2(guid, text, 40);  // "{...}" plus the terminating zero
    if (length < 3) return "";
    return WideToUtf8(std::wstring(text + 1, static_cast<size_t>(length) - 3));
}

std::string RandomNumberText() {
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (BCryptOpenAlgorithmProvider(&provider, L"RNG", nullptr, 0) != 0) return "0";
    unsigned long long number = 0;
    NTSTATUS status = BCryptGenRandom(provider, reinterpret_cast<PUCHAR>(&number), sizeof number, 0);
    BCryptCloseAlgorithmProvider(provider, 0);
    if (status != 0) return "0";
    char text[17];
    std::snprintf(text, sizeof text, "%llX", number);
    return text;
}

const char* OperatingSystemName() {
    return "Windows";
}
