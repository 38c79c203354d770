#pragma once
// Caps the number of heaps the C library's allocator keeps for its threads.
// glibc gives a thread that allocates while another holds the main heap an
// arena of its own (up to eight per core), each reserving 64 MiB and keeping
// some of it resident for the rest of the process. The plug-in's dozen threads
// allocate little and seldom at the same time, so two heaps serve them with
// a fraction of the resident memory. Blocks from 32 KB up are mapped on
// their own, so that a redraw's transient buffers leave no holes in the heaps.
// Nothing to do for the Windows heap.
//
// Threads: call LimitHeapArenas on the main thread before any other thread
// starts; ReturnFreeHeapPages from any thread.
void LimitHeapArenas();

// Gives the pages that freed blocks leave inside the heaps back to the
// system. A burst of key redraws (decoded images, the encoder's buffers)
// leaves them behind the blocks still in use, where the allocator's own
// trimming at the top of a heap does not reach; call it when the burst is over.
void ReturnFreeHeapPages();
