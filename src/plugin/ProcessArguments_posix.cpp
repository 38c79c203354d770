#include "plugin/ProcessArguments.h"

std::optional<std::vector<std::string>> ProcessArguments(int argc, const char* const argv[]) {
    return std::vector<std::string>(argv, argv + argc);
}
