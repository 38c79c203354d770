#include "ProbePlatform.h"

std::string ProbePlatform::LoadAverage() {
    return "-";
}

// GetProcessTimes and Toolhelp32 give no switch counts; under Wine,
// scripts/wine-idle counts them from Linux.
bool ProbePlatform::CountsContextSwitches() {
    return false;
}

bool ProbePlatform::HasPressFloor() {
    return false;
}

std::function<void()> ProbePlatform::StartPressFloor(unsigned short, const std::string&) {
    return {};
}
