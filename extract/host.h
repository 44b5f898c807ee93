// The host seam of the extraction: the memory, processor and clock queries
// it needs, declared here and defined once per build (platform/linux/,
// platform/windows/). The file output has its own seam (output_file.h).
// Neither holds a decoder type, so the platform layers build without the
// LZMA SDK's headers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

// Whole pages from the system; null when there are none. Used for buffers
// large enough that a released one should leave the process at once.
void* allocateLarge(size_t size);
void freeLarge(void* address, size_t size);

// Number of processors the process may use (at least 1).
unsigned processorCount();

// Called before the extraction starts its threads: the C library is asked
// to keep one heap for all of them (glibc gives a thread a heap of its own
// and reserves 64 MiB of address space for each on 64-bit systems, which a
// limit such as `ulimit -v` counts, so that every writing thread would
// otherwise make an install fail under a limit it passed with fewer).
void shareHeapAcrossThreads();

// The machine's physical memory in bytes (0 when unknown), and the CPU time
// the calling thread has used so far.
uint64_t physicalMemory();
double threadCpuSeconds();

}  // namespace kv
