// Processors, memory and thread CPU time on Windows.
#include <windows.h>

#include "extract/host.h"

namespace kv {

unsigned processorCount() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0) {
    unsigned count = 0;
    for (; process != 0; process &= process - 1) ++count;
    return count;
  }
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<unsigned>(info.dwNumberOfProcessors) : 1u;
}

// The C runtime's heap is one process heap already.
void shareHeapAcrossThreads() {}

uint64_t physicalMemory() {
  MEMORYSTATUSEX status;
  status.dwLength = sizeof(status);
  return ::GlobalMemoryStatusEx(&status) ? static_cast<uint64_t>(status.ullTotalPhys) : 0;
}

double threadCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  auto ticks = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

}  // namespace kv
