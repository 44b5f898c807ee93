#include "extract/threaded_source.h"

#include <cstring>

namespace kv {

ThreadedSource::ThreadedSource(ByteSource* inner)
    : inner_(inner), free_(kPieces, kPieces + 1), full_(0, kPieces) {}

ThreadedSource::~ThreadedSource() {
  if (!started_) return;
  stop_.store(true);
  free_.post();  // wakes a producer waiting for a buffer
  thread_.join();
}

bool ThreadedSource::start() {
  if (!free_.ok() || !full_.ok()) return false;
  for (Piece& piece : pieces_) {
    if (!piece.buffer.reserve(kDecodeStep)) return false;
  }
  started_ = thread_.start(&ThreadedSource::run, this);
  return started_;
}

void ThreadedSource::run(void* self) { static_cast<ThreadedSource*>(self)->produce(); }

void ThreadedSource::produce() {
  for (unsigned produced = 0;; ++produced) {
    free_.wait();
    if (stop_.load()) return;
    Piece& piece = pieces_[produced % kPieces];
    const Byte* data = nullptr;
    size_t size = 0;
    piece.result = inner_->next(&data, &size);
    piece.size = 0;
    if (piece.result == SZ_OK && size > 0) {
      if (piece.buffer.reserve(size)) {
        std::memcpy(piece.buffer.data(), data, size);
        piece.size = size;
      } else {
        piece.result = SZ_ERROR_MEM;
      }
    }
    const bool last = piece.result != SZ_OK || piece.size == 0;
    full_.post();
    if (last) return;
  }
}

SRes ThreadedSource::next(const Byte** data, size_t* size) {
  *size = 0;
  if (holding_) {
    holding_ = false;
    free_.post();
  }
  if (ended_) return endResult_;
  full_.wait();
  Piece& piece = pieces_[consumed_++ % kPieces];
  if (piece.result != SZ_OK || piece.size == 0) {
    ended_ = true;
    endResult_ = piece.result;
    return endResult_;
  }
  holding_ = true;
  *data = piece.buffer.data();
  *size = piece.size;
  return SZ_OK;
}

}  // namespace kv
