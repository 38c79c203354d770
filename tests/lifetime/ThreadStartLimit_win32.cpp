#include "lifetime/ThreadStartLimit.h"

bool ForbidNewThreads() {
    return false;
}
