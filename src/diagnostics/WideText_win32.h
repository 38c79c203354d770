#pragma once
// UTF-8 inside, UTF-16 at Windows calls: the one pair of conversions between
// them, for the _win32 files alone. Ill-formed input (bytes that are not
// UTF-8, an unpaired surrogate) raises std::range_error("bad conversion").

#include <stdexcept>
#include <string>

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
