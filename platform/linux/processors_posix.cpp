// Processors, memory and thread CPU time on POSIX systems.
#include <malloc.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include "extract/host.h"

namespace kv {

// The processors this process may run on (taskset, cpusets), else those
// online.
unsigned processorCount() {
#ifdef CPU_COUNT
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
#endif
  const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<unsigned>(count) : 1u;
}

void shareHeapAcrossThreads() {
#ifdef M_ARENA_MAX
  ::mallopt(M_ARENA_MAX, 1);
#endif
}

uint64_t physicalMemory() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

double threadCpuSeconds() {
  struct timespec now;
  if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) return 0;
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace kv
