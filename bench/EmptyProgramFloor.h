#pragma once
// Wine's own floor beside the plug-in: the same measures taken of
// empty_program, a Windows program that does nothing (bench/
// EmptyProgramMain_win32.cpp), in the same Wine prefix and the same run:
// its start (process creation to its first line), a message's round trip
// through a named pipe into it and back (what Wine adds to a message between
// two processes, under the press, turn and report rows), its idle CPU,
// private memory and threads.
//
// Threads: one thread calls every operation; during a start, the child
// process's reader thread stamps the line (handed over by a promise).

#include <string>

#include "ProbeResults.h"

class EmptyProgramFloor {
public:
    // |pipeName|: a pipe name of this run's own (see PipeAddress).
    EmptyProgramFloor(std::string program, std::string pipeName);

    // One start into |floor|.start.
    void MeasureStart(ProbeResults& floor) const;
    // |messages| round trips at the presses' pace into |floor|.press, then an
    // idle run of |idleSeconds| with the memory at its end.
    void MeasureSession(int messages, int idleSeconds, ProbeResults& floor) const;

private:
    std::string m_program;
    std::string m_pipeName;
};
