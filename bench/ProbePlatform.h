#pragma once
// What plugin_probe reads of the machine where Linux and Windows differ.
// Back-ends: ProbePlatform_posix.cpp, ProbePlatform_win32.cpp.

#include <functional>
#include <string>

class ProbePlatform {
public:
    // The load averages ("1 5 15 min"); "-" where the system has none.
    static std::string LoadAverage();
    // Whether ChildProcess::Usage::contextSwitches is read (not on Windows).
    static bool CountsContextSwitches();
    // Whether the floor under a key press is measured here (not on Windows,
    // where the empty program's pipe round trip is Wine's floor).
    static bool HasPressFloor();
    // Starts the floor under a key press (PressFloor) between the stand-in
    // host on 127.0.0.1:|port| and the controller socket at |pipePath|, and
    // returns what stops it; nothing when it cannot start.
    static std::function<void()> StartPressFloor(unsigned short port, const std::string& pipePath);
};
