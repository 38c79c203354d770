#include <fstream>

#include "HandOffChain.h"
#include "ProbePlatform.h"

std::string ProbePlatform::LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    if (!(file >> one >> five >> fifteen)) return "-";
    return one + " " + five + " " + fifteen;
}

bool ProbePlatform::CountsContextSwitches() {
    return true;
}

Samples ProbePlatform::HandOffFloor(int hops, int messages) {
    return MeasureHandOffs(hops, messages);
}
