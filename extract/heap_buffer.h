// HeapBuffer: a byte buffer whose allocation failure is a return value (a
// dictionary of hundreds of megabytes may not fit a 32-bit process),
// released when it goes out of scope. Buffers of kLargeSize bytes or more
// are mapped straight from the system (allocateLarge(), extract/host.h), so that a
// released dictionary leaves the process instead of lingering in the C
// heap. reserve() keeps no contents; release() empties the buffer.
#pragma once

#include <cstddef>

#include "7zTypes.h"
#include "extract/host.h"

namespace kv {

class HeapBuffer {
 public:
  static constexpr size_t kLargeSize = 1 << 20;

  HeapBuffer() = default;
  ~HeapBuffer() { release(); }
  HeapBuffer(const HeapBuffer&) = delete;
  HeapBuffer& operator=(const HeapBuffer&) = delete;

  // Makes room for at least `size` bytes (contents not kept). false when
  // the memory is not there; the buffer is then empty.
  bool reserve(size_t size);
  void release();

  Byte* data() { return data_; }
  size_t capacity() const { return capacity_; }

 private:
  Byte* data_ = nullptr;
  size_t capacity_ = 0;
};

}  // namespace kv
