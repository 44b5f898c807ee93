// Large buffers on Windows: committed virtual memory.
#include <windows.h>

#include "extract/host.h"

namespace kv {

void* allocateLarge(size_t size) {
  return ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void freeLarge(void* address, size_t) { ::VirtualFree(address, 0, MEM_RELEASE); }

}  // namespace kv
