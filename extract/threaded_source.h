// ThreadedSource: runs another ByteSource on a thread of its own and hands
// its bytes over through a few buffers, so that the stage reading them
// works while the next bytes are decoded. BCJ2 folders use it for their
// main stream, which holds nearly all of the work, when a spare processor
// is there.
//
// The inner source must outlive this object. next() gives what the inner
// source gave, in order, including its failure or its end; the destructor
// stops the thread (after the inner call in progress) and waits for it.
#pragma once

#include <atomic>

#include "extract/coders.h"
#include "extract/heap_buffer.h"
#include "extract/threads.h"

namespace kv {

class ThreadedSource final : public ByteSource {
 public:
  explicit ThreadedSource(ByteSource* inner);
  ~ThreadedSource() override;
  ThreadedSource(const ThreadedSource&) = delete;
  ThreadedSource& operator=(const ThreadedSource&) = delete;

  // false when the buffers or the thread could not be had; the inner
  // source is then untouched and may be read directly.
  bool start();

  SRes next(const Byte** data, size_t* size) override;

 private:
  static constexpr unsigned kPieces = 4;
  struct Piece {
    HeapBuffer buffer;
    size_t size = 0;
    SRes result = SZ_OK;
  };

  static void run(void* self);
  void produce();

  ByteSource* inner_;
  Piece pieces_[kPieces];
  Semaphore free_;
  Semaphore full_;
  Thread thread_;
  std::atomic<bool> stop_{false};
  bool started_ = false;
  unsigned consumed_ = 0;  // pieces taken by next()
  bool holding_ = false;   // next() handed out a piece not yet given back
  bool ended_ = false;
  SRes endResult_ = SZ_OK;
};

}  // namespace kv
