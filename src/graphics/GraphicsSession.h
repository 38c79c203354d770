#pragma once
// Keeps the platform's image library running for the life of the process:
// GDI+ on Windows (started with version 1 and default options, shut down with
// the token it gave), nothing to do for cairo. The lifetime code constructs
// one first among the process's static objects so that every Graphics is made
// and destroyed while it runs.
//
// Threads: construct and destroy on one thread, before and after any other
// image work. IsRunning may be asked from any thread.

class GraphicsSession {
public:
    GraphicsSession();
    ~GraphicsSession();
    GraphicsSession(const GraphicsSession&) = delete;
    GraphicsSession& operator=(const GraphicsSession&) = delete;

    // True between the construction and the destruction of a session. Images
    // released after the library has been shut down are left to the process's
    // end instead of being handed to a library that no longer runs.
    static bool IsRunning();
};
