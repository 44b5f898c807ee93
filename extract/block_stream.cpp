#include "extract/block_stream.h"

#include "base/fs.h"

namespace kv {

BlockStream::BlockStream(std::FILE* file, uint32_t start, uint32_t end)
    : file_(file), start_(start), end_(end), buffer_(kLookAheadSize) {
  seek_.vt.Read = &BlockStream::readEntry;
  seek_.vt.Seek = &BlockStream::seekEntry;
  seek_.owner = this;

  LookToRead2_CreateVTable(&look_, 1 /* look-ahead mode */);
  look_.realStream = &seek_.vt;
  look_.buf = buffer_.data();
  look_.bufSize = buffer_.size();
  LookToRead2_INIT(&look_);

  fs::seek(file_, start_, SEEK_SET);
}

SRes BlockStream::readEntry(ISeekInStreamPtr p, void* buffer, size_t* size) {
  return reinterpret_cast<const SeekVtable*>(p)->owner->read(buffer, size);
}

SRes BlockStream::seekEntry(ISeekInStreamPtr p, Int64* position, ESzSeek origin) {
  return reinterpret_cast<const SeekVtable*>(p)->owner->seek(position, origin);
}

SRes BlockStream::read(void* buffer, size_t* size) {
  const int64_t here = fs::tell(file_);
  uint64_t left = 0;
  if (here >= 0 && here < static_cast<int64_t>(end_)) left = static_cast<uint64_t>(end_ - here);
  size_t wanted = *size;
  if (wanted > left) wanted = static_cast<size_t>(left);
  *size = wanted == 0 ? 0 : std::fread(buffer, 1, wanted, file_);
  return SZ_OK;
}

SRes BlockStream::seek(Int64* position, ESzSeek origin) {
  int64_t target = 0;
  switch (origin) {
    case SZ_SEEK_SET:
      target = static_cast<int64_t>(start_) + *position;
      break;
    case SZ_SEEK_CUR: {
      const int64_t here = fs::tell(file_);
      if (here < 0) return SZ_ERROR_FAIL;
      target = here + *position;
      break;
    }
    case SZ_SEEK_END:
      target = static_cast<int64_t>(end_) + *position;
      break;
    default:
      return SZ_ERROR_FAIL;
  }
  // Nothing before the block is part of the archive.
  if (target < static_cast<int64_t>(start_)) return SZ_ERROR_FAIL;
  if (fs::seek(file_, target, SEEK_SET) != 0) return SZ_ERROR_FAIL;
  *position = target - static_cast<int64_t>(start_);
  return SZ_OK;
}

}  // namespace kv
