#pragma once
// Reads a decimal integer the way the C library's atoi reads one: leading
// white space, an optional sign, then digits up to the first non-digit; text
// without digits gives 0. Out-of-range values saturate at the 32-bit limits
// (what the Windows runtime's atoi does) instead of being undefined.
int ParseLeadingInt(const char* text);
