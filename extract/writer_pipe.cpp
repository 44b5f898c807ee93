#include "extract/writer_pipe.h"

#include <cstring>

namespace kv {

WriterPipe::WriterPipe(FolderOutput& output, UInt32 folder)
    : output_(output),
      folder_(folder),
      free_(kPieces, kPieces),
      full_(0, kPieces),
      drained_(0, 1) {}

WriterPipe::~WriterPipe() {
  if (!started_) return;
  if (!holding_) acquire();
  handOver(Kind::kStop);
  thread_.join();
}

bool WriterPipe::start() {
  if (!free_.ok() || !full_.ok() || !drained_.ok()) return false;
  for (Piece& piece : pieces_) {
    if (!piece.buffer.reserve(kPieceSize)) return false;
  }
  started_ = thread_.start(&WriterPipe::run, this);
  return started_;
}

void WriterPipe::run(void* self) { static_cast<WriterPipe*>(self)->consume(); }

void WriterPipe::consume() {
  for (unsigned taken = 0;; ++taken) {
    full_.wait();
    Piece& piece = pieces_[taken % kPieces];
    const Kind kind = piece.kind;
    if (kind == Kind::kBytes && piece.size > 0)
      output_.data(folder_, piece.buffer.data(), piece.size);
    free_.post();
    if (kind == Kind::kDrained) drained_.post();
    if (kind == Kind::kStop) return;
  }
}

// The piece to fill next, once the pipe's thread gave it back.
WriterPipe::Piece& WriterPipe::acquire() {
  free_.wait();
  holding_ = true;
  Piece& piece = pieces_[filled_ % kPieces];
  piece.size = 0;
  piece.kind = Kind::kBytes;
  return piece;
}

void WriterPipe::handOver(Kind kind) {
  pieces_[filled_ % kPieces].kind = kind;
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
    if (piece.size == kPieceSize) handOver(Kind::kBytes);
  }
}

void WriterPipe::drain() {
  if (holding_) handOver(Kind::kBytes);
  acquire();
  handOver(Kind::kDrained);
  drained_.wait();
}

}  // namespace kv
