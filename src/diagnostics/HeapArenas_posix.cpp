#include "diagnostics/HeapArenas.h"

#include <malloc.h>

namespace {
constexpr int kArenaCount = 2;  // the main heap and one shared by the other threads
}

void LimitHeapArenas() {
    mallopt(M_ARENA_MAX, kArenaCount);
}

void ReturnFreeHeapPages() {
    malloc_trim(0);
}
