// EntryDecoder: yields the bytes of one file entry at a time. The decoder
// unpacks a whole solid block into one heap buffer and keeps it, so that all
// entries of a block are cut from a single unpacking; the buffer is released
// when the next block is unpacked and when the EntryDecoder goes away.
//
// A block whose unpacked size does not fit in memory (or in size_t, on
// 32-bit hosts) ends with the decoder's out-of-memory code 2.
#pragma once

#include <cstddef>
#include <cstdint>

#include "extract/archive.h"

namespace kv {

class EntryDecoder {
 public:
  // `archive` must be open and outlive the decoder. `blockAllocator` serves
  // the unpacked block and the decoder's working memory.
  explicit EntryDecoder(const Archive& archive, ISzAllocPtr blockAllocator = heapAllocator());
  ~EntryDecoder();
  EntryDecoder(const EntryDecoder&) = delete;
  EntryDecoder& operator=(const EntryDecoder&) = delete;

  // Unpacks entry `index`. On 0 `data`/`size` describe its bytes (data may
  // be null when size is 0), valid until the next call. Otherwise the
  // decoder's code (2 out of memory, 3 CRC mismatch, 4 unsupported coder...).
  int decode(uint32_t index, const uint8_t** data, size_t* size);

 private:
  const Archive& archive_;
  ISzAllocPtr allocator_;
  UInt32 blockIndex_ = 0;
  Byte* block_ = nullptr;
  size_t blockSize_ = 0;
};

}  // namespace kv
