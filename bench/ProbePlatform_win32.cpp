#include "ProbePlatform.h"

std::string ProbePlatform::LoadAverage() {
    return "-";
}

// GetProcessTimes and Toolhelp32 give no switch counts; under Wine,
// scripts/wine-idle counts them from Linux.
bool ProbePlatform::CountsContextSwitches() {
    return false;
}

Samples ProbePlatform::HandOffFloor(int, int) {
    return {};
}
