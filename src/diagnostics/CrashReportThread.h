#pragma once
// Readies the calling thread for crash reports. Called as the first statement
// of every thread procedure that the plug-in starts.
//
// POSIX: a stack overflow leaves the faulting thread no stack on which the
// fatal-signal handler could run, so each thread gets its own alternate
// signal stack (restored and freed when the thread ends). Windows: nothing to
// do; the unhandled-exception filter covers every thread, and a stack
// overflow reaches it with the stack that the system keeps in reserve.
//
// Threads: affects only the calling thread; calling it again is harmless.

void PrepareThreadForCrashReports();
