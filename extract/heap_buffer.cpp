#include "extract/heap_buffer.h"

#include <cstdlib>

namespace kv {

bool HeapBuffer::reserve(size_t size) {
  if (size <= capacity_) return true;
  release();
  void* memory = size >= kLargeSize ? allocateLarge(size) : std::malloc(size);
  if (!memory) return false;
  data_ = static_cast<Byte*>(memory);
  capacity_ = size;
  return true;
}

void HeapBuffer::release() {
  if (!data_) return;
  if (capacity_ >= kLargeSize) {
    freeLarge(data_, capacity_);
  } else {
    std::free(data_);
  }
  data_ = nullptr;
  capacity_ = 0;
}

}  // namespace kv
