#include "diagnostics/HeapArenas.h"

// The process heap serves every thread; there are no per-thread arenas to cap.
void LimitHeapArenas() {}

// The Windows heap decommits large free ranges by itself.
void ReturnFreeHeapPages() {}
