// HeapBuffer: a byte buffer from the C heap whose allocation failure is a
// return value (a dictionary of hundreds of megabytes may not fit a 32-bit
// process), released when it goes out of scope. Keeps its bytes when it
// grows only through reserve() on an empty buffer; never shrinks.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "7zTypes.h"

namespace kv {

class HeapBuffer {
 public:
  HeapBuffer() = default;
  ~HeapBuffer() { std::free(data_); }
  HeapBuffer(const HeapBuffer&) = delete;
  HeapBuffer& operator=(const HeapBuffer&) = delete;

  // Makes room for at least `size` bytes (contents not kept). false when
  // the memory is not there; the buffer is then empty.
  bool reserve(size_t size) {
    if (size <= capacity_) return true;
    std::free(data_);
    data_ = static_cast<Byte*>(std::malloc(size));
    capacity_ = data_ ? size : 0;
    return data_ != nullptr;
  }

  Byte* data() { return data_; }
  size_t capacity() const { return capacity_; }

 private:
  Byte* data_ = nullptr;
  size_t capacity_ = 0;
};

}  // namespace kv
