#pragma once
// What plugin_probe reads of the machine where Linux and Windows differ.
// Back-ends: ProbePlatform_posix.cpp, ProbePlatform_win32.cpp.

#include <string>

#include "Samples.h"

class ProbePlatform {
public:
    // The load averages ("1 5 15 min"); "-" where the system has none.
    static std::string LoadAverage();
    // Whether ChildProcess::Usage::contextSwitches is read (not on Windows).
    static bool CountsContextSwitches();
    // The machine's hand-off floor of the press row (HandOffChain); nothing
    // on Windows, where the empty program's pipe round trip is the floor.
    static Samples HandOffFloor(int hops, int messages);
};
