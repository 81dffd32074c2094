#pragma once

namespace sorvik {

// The heap of a program that allocates tens of thousands of small blocks and
// matrices of megabytes: one heap for all threads, which grows 64 MiB at a time,
// takes blocks of up to 32 MiB from itself rather than from fresh mappings, and
// asks the kernel to back it with 2 MiB pages. Every 4 KiB page touched for the first time costs a fault (about
// 12 us on a virtual machine); on 2 MiB pages a run takes one where it took 512.
// Called once, at the start of a program, before its threads. Memory that is
// never touched costs nothing.
void tuneHeap();

// Lets go of the 64 MiB that the heap grows by beyond each request, and gives back
// what the heap holds unused, so that the pad never decides whether a run fits in
// a capped address space; true if it had not been let go before (the failed
// allocation or mapping is then worth another try).
bool releaseHeapPad();

} // namespace sorvik
