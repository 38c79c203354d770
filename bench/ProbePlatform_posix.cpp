#include <fstream>
#include <memory>

#include "PressFloor.h"
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

bool ProbePlatform::HasPressFloor() {
    return true;
}

std::function<void()> ProbePlatform::StartPressFloor(unsigned short port, const std::string& pipePath) {
    auto floor = std::make_shared<PressFloor>();
    if (!floor->Start(port, pipePath)) return {};
    return [floor] { floor->Stop(); };
}
