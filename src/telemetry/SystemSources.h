#pragma once
// Clock, GUID and random numbers as the telemetry service and the machine
// identifier need them. Safe to call from any thread.

#include <cstdint>
#include <string>

// A monotonic clock in nanoseconds (performance counter on Windows).
uint64_t ClockNanoseconds();

// A new GUID as 36 characters of upper-case 8-4-4-4-12 hexadecimal digits.
std::string NewGuidText();

// A random 64-bit number as upper-case hexadecimal without leading zeros;
// "0" when the system's generator fails.
std::string RandomNumberText();

// The operating system named in telemetry events: "Windows" or "Linux".
const char* OperatingSystemName();
