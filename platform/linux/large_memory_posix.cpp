// Large buffers on POSIX systems: anonymous private mappings.
#include <sys/mman.h>

#include "extract/host.h"

namespace kv {

void* allocateLarge(size_t size) {
  void* memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return memory == MAP_FAILED ? nullptr : memory;
}

void freeLarge(void* address, size_t size) { ::munmap(address, size); }

}  // namespace kv
