#include "diagnostics/ThreadStartLimit.h"

bool ForbidNewThreads() {
    return false;
}
