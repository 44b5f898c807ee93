#include "extract/entry_decoder.h"

namespace kv {

EntryDecoder::EntryDecoder(const Archive& archive, ISzAllocPtr blockAllocator)
    : archive_(archive), allocator_(blockAllocator) {}

EntryDecoder::~EntryDecoder() { ISzAlloc_Free(allocator_, block_); }

int EntryDecoder::decode(uint32_t index, const uint8_t** data, size_t* size) {
  *data = nullptr;
  *size = 0;
  if (index >= archive_.entryCount()) return SZ_ERROR_PARAM;
  size_t offset = 0;
  size_t length = 0;
  const SRes result =
      SzArEx_Extract(&archive_.database(), archive_.stream(), index, &blockIndex_, &block_,
                     &blockSize_, &offset, &length, allocator_, allocator_);
  if (result != SZ_OK) {
    // Never reuse a block that failed to unpack.
    ISzAlloc_Free(allocator_, block_);
    block_ = nullptr;
    blockSize_ = 0;
    return result;
  }
  *data = block_ ? block_ + offset : nullptr;
  *size = length;
  return SZ_OK;
}

}  // namespace kv
