#include "diagnostics/HeapArenas.h"

#include <malloc.h>

namespace {
constexpr int kArenaCount = 2;  // the main heap and one shared by the other threads
// A key redraw's pixels, scanlines and zlib buffers (64-83 KB each) are
// mapped for the redraw and unmapped after it, instead of leaving holes
// between the blocks that stay (kept images, messages) in the heaps.
constexpr int kMappedFrom = 32 * 1024;
}  // namespace

void LimitHeapArenas() {
    mallopt(M_ARENA_MAX, kArenaCount);
    mallopt(M_MMAP_THRESHOLD, kMappedFrom);
}

void ReturnFreeHeapPages() {
    malloc_trim(0);
}
