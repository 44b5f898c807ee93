#include "extract/writer_pipe.h"

#include <cstring>

namespace kv {

WriterPipe::WriterPipe(FolderOutput& output, UInt32 folder)
    : output_(output), folder_(folder), free_(kPieces, kPieces), full_(0, kPieces) {}

WriterPipe::~WriterPipe() { finish(); }

bool WriterPipe::start() {
  if (!free_.ok() || !full_.ok()) return false;
  for (Piece& piece : pieces_) {
    if (!piece.buffer.reserve(kPieceSize)) return false;
  }
  started_ = thread_.start(&WriterPipe::run, this);
  return started_;
}

void WriterPipe::run(void* self) { static_cast<WriterPipe*>(self)->consume(); }

// The pipe's thread: every piece to the output, in order, until the last.
void WriterPipe::consume() {
  for (unsigned taken = 0;; ++taken) {
    full_.wait();
    Piece& piece = pieces_[taken % kPieces];
    if (piece.size > 0) output_.data(folder_, piece.buffer.data(), piece.size);
    const bool last = piece.last;
    free_.post();
    if (last) return;
  }
}

// The piece to fill next, once the pipe's thread gave it back.
WriterPipe::Piece& WriterPipe::acquire() {
  free_.wait();
  holding_ = true;
  Piece& piece = pieces_[filled_ % kPieces];
  piece.size = 0;
  piece.last = false;
  return piece;
}

void WriterPipe::handOver(bool last) {
  pieces_[filled_ % kPieces].last = last;
  ++filled_;
  holding_ = false;
  full_.post();
}

void WriterPipe::data(const Byte* data, size_t size) {
  while (size > 0) {
    Piece& piece = holding_ ? pieces_[filled_ % kPieces] : acquire();
    const size_t room = kPieceSize - piece.size;
    const size_t part = size < room ? size : room;
    std::memcpy(piece.buffer.data() + piece.size, data, part);
    piece.size += part;
    data += part;
    size -= part;
    if (piece.size == kPieceSize) handOver(false);
  }
}

// The piece being filled goes as the last one (an empty one when none is).
void WriterPipe::finish() {
  if (!started_) return;
  if (!holding_) acquire();
  handOver(true);
  thread_.join();
  started_ = false;
}

}  // namespace kv
