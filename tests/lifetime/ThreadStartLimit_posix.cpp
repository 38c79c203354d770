#include <pthread.h>

#include <cstddef>

#include "lifetime/ThreadStartLimit.h"

bool ForbidNewThreads() {
    // A default stack larger than the address space: every pthread_create
    // (and so every std::thread) fails from now on.
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    bool set = pthread_attr_setstacksize(&attributes, static_cast<size_t>(1) << 50) == 0 &&
               pthread_setattr_default_np(&attributes) == 0;
    pthread_attr_destroy(&attributes);
    return set;
}
