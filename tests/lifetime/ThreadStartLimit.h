#pragma once
// Test helper for the crash-test program: makes every later thread start of
// the process fail, as when the system has no room left for another stack.
// False where the platform offers no way to do so (Windows).

bool ForbidNewThreads();
