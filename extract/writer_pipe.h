// WriterPipe: moves the writing of one folder's files off the thread that
// decodes the folder, so that decoding and writing overlap where a second
// processor is free (an archive of one large solid block would otherwise
// decode and write in turn on one thread while the others idle).
//
// The decoding thread's data() copies the bytes into one of kPieces pieces
// of kPieceSize bytes, waiting while all are full; the pipe's own thread
// hands the full pieces, in order, to the output as data(folder, ...).
// finish() hands on the piece being filled and waits for the pipe's thread
// to end, so the output has had every byte when it returns and the folder
// may be ended there from the calling thread; the destructor finishes too.
// Memory: kPieces x kPieceSize (512 KiB).
#pragma once

#include "extract/folder_output.h"
#include "extract/heap_buffer.h"
#include "extract/threads.h"

namespace kv {

class WriterPipe {
 public:
  static constexpr unsigned kPieces = 4;
  static constexpr size_t kPieceSize = 1 << 17;

  WriterPipe(FolderOutput& output, UInt32 folder);
  ~WriterPipe();
  WriterPipe(const WriterPipe&) = delete;
  WriterPipe& operator=(const WriterPipe&) = delete;

  // false when the pieces or the thread could not be had; the caller then
  // writes to the output itself.
  bool start();

  // The decoding thread (one at a time, handed over under a lock).
  void data(const Byte* data, size_t size);
  void finish();

 private:
  struct Piece {
    HeapBuffer buffer;
    size_t size = 0;
    bool last = false;  // the pipe's thread ends after it
  };

  static void run(void* self);
  void consume();
  Piece& acquire();
  void handOver(bool last);

  FolderOutput& output_;
  UInt32 folder_;
  Piece pieces_[kPieces];
  Semaphore free_;
  Semaphore full_;
  Thread thread_;
  bool started_ = false;
  unsigned filled_ = 0;   // pieces handed over by the decoding thread
  bool holding_ = false;  // the piece filled_ % kPieces is being filled
};

}  // namespace kv
