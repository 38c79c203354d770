#include "plugin/ProcessArguments.h"

#include <windows.h>
// After windows.h: it uses its types.
#include <shellapi.h>

#include <memory>
#include <stdexcept>

#include "diagnostics/Platform.h"
#include "diagnostics/WideText_win32.h"

std::optional<std::vector<std::string>> ProcessArguments(int, const char* const[]) {
    int count = 0;
    std::unique_ptr<LPWSTR, decltype(&LocalFree)> wide(CommandLineToArgvW(GetCommandLineW(), &count),
                                                       &LocalFree);
    if (!wide) return std::nullopt;
    std::vector<std::string> arguments;
    try {
        for (int i = 0; i < count; ++i) arguments.push_back(WideToUtf8(wide.get()[i]));
    } catch (const std::range_error&) {
        return std::nullopt;  // an unpaired surrogate has no UTF-8 form
    }
    return arguments;
}
