#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "extract/host.h"

namespace kv {
namespace {

// The bytes of this process's mappings but the heap, from /proc/self/maps.
uint64_t mappedBytes() {
  std::ifstream maps("/proc/self/maps");
  uint64_t total = 0;
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find("[heap]") != std::string::npos) continue;
    const size_t dash = line.find('-');
    const size_t space = line.find(' ');
    if (dash == std::string::npos || space == std::string::npos) continue;
    total += std::stoull(line.substr(dash + 1, space - dash - 1), nullptr, 16) -
             std::stoull(line.substr(0, dash), nullptr, 16);
  }
  return total;
}

// Large buffers are cut out of a larger mapping to align them for huge
// pages: every byte must be usable, and freeing must give back all of it,
// the trimmed ends included.
TEST(LargeMemoryTest, BuffersAreWholeAlignedAndGivenBackWhole) {
  constexpr size_t kHugePage = size_t(2) << 20;
  const size_t sizes[] = {1u << 20, kHugePage - 1, kHugePage, kHugePage + 1, (9u << 20) + 123};
  mappedBytes();  // the reader's own allocations are made once
  for (const size_t size : sizes) {
    const uint64_t before = mappedBytes();
    unsigned char* memory = static_cast<unsigned char*>(allocateLarge(size));
    ASSERT_NE(memory, nullptr) << size;
    if (size >= kHugePage) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(memory) % kHugePage, 0u) << size;
    }
    EXPECT_EQ(memory[0], 0) << size;
    EXPECT_EQ(memory[size - 1], 0) << size;
    std::memset(memory, 0xA5, size);
    EXPECT_EQ(memory[size / 2], 0xA5) << size;
    EXPECT_LT(mappedBytes(), before + size + 4096 * 2) << size;  // no trimmed end kept
    freeLarge(memory, size);
    EXPECT_EQ(mappedBytes(), before) << size;
  }
}

}  // namespace
}  // namespace kv
