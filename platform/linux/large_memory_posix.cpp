// Large buffers on POSIX systems: anonymous private mappings, aligned to
// huge pages and marked for them where the system offers them: a decoder
// touches every page of its dictionary, and a fault per 4 KiB page cost
// more than the decoding of many of its bytes. Pages are still faulted in
// as they are first used, so a buffer that is only partly used (or used
// late) does not count in full from its start.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "extract/host.h"

namespace kv {

namespace {
constexpr size_t kHugePage = size_t(2) << 20;
}

void* allocateLarge(size_t size) {
  if (size < kHugePage) {
    void* memory =
        ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return memory == MAP_FAILED ? nullptr : memory;
  }
  // Map a huge page more, keep the aligned part, give the ends back.
  const size_t mapped = size + kHugePage;
  if (mapped < size) return nullptr;
  void* raw = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (start + kHugePage - 1) & ~uintptr_t(kHugePage - 1);
  const long page = ::sysconf(_SC_PAGESIZE);
  const uintptr_t pageSize = page > 0 ? static_cast<uintptr_t>(page) : 4096;
  const uintptr_t end = (aligned + size + pageSize - 1) & ~uintptr_t(pageSize - 1);
  if (aligned > start) ::munmap(raw, aligned - start);
  if (start + mapped > end) ::munmap(reinterpret_cast<void*>(end), start + mapped - end);
  void* memory = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  ::madvise(memory, size, MADV_HUGEPAGE);
#endif
  return memory;
}

void freeLarge(void* address, size_t size) { ::munmap(address, size); }

}  // namespace kv
