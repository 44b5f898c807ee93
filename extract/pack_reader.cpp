#include "extract/pack_reader.h"

#include <cstring>

namespace kv {

SRes ArchiveInput::readAt(UInt64 position, Byte* buffer, size_t* size) {
  Lock lock(mutex_);
  Int64 target = static_cast<Int64>(position);
  RINOK(ISeekInStream_Seek(stream_, &target, SZ_SEEK_SET))
  size_t done = 0;
  while (done < *size) {
    size_t piece = *size - done;
    RINOK(ISeekInStream_Read(stream_, buffer + done, &piece))
    if (piece == 0) break;
    done += piece;
  }
  *size = done;
  return SZ_OK;
}

void PackReader::open(ArchiveInput* input, UInt64 position, UInt64 size) {
  input_ = input;
  position_ = position;
  left_ = size;
  cur_ = lim_ = nullptr;
  seq_.vt.Read = &PackReader::readEntry;
  seq_.owner = this;
}

SRes PackReader::look(const Byte** data, size_t* size) {
  if (cur_ == lim_ && left_ > 0) {
    if (!buffer_.reserve(kBufferSize)) return SZ_ERROR_MEM;
    size_t want = kBufferSize;
    if (want > left_) want = static_cast<size_t>(left_);
    RINOK(input_->readAt(position_, buffer_.data(), &want))
    if (want == 0) return SZ_ERROR_INPUT_EOF;
    position_ += want;
    left_ -= want;
    cur_ = buffer_.data();
    lim_ = cur_ + want;
  }
  *data = cur_;
  *size = static_cast<size_t>(lim_ - cur_);
  return SZ_OK;
}

SRes PackReader::readEntry(ISeqInStreamPtr p, void* buffer, size_t* size) {
  PackReader* self = reinterpret_cast<const SeqView*>(p)->owner;
  const Byte* data = nullptr;
  size_t available = 0;
  const SRes result = self->look(&data, &available);
  if (result != SZ_OK) {
    *size = 0;
    return result;
  }
  if (available > *size) available = *size;
  if (available > 0) std::memcpy(buffer, data, available);
  self->skip(available);
  *size = available;
  return SZ_OK;
}

}  // namespace kv
