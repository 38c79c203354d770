#pragma once
// Caps the number of heaps the C library's allocator keeps for its threads.
// glibc gives a thread that allocates while another holds the main heap an
// arena of its own (up to eight per core), each reserving 64 MiB and keeping
// some of it resident for the rest of the process. The plug-in's dozen threads
// allocate little and seldom at the same time, so two heaps serve them with
// a fraction of the resident memory. Nothing to do for the Windows heap.
//
// Threads: call on the main thread before any other thread starts.
void LimitHeapArenas();
