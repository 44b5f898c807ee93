// ChunkQueue: the hand-over of unpacked bytes from the decoding workers to
// the writing thread. A fixed pool of kChunkCount chunks of kChunkSize
// bytes (4 MiB in all) bounds the memory between them: a worker that
// finds no free chunk waits until the writer gives one back. Messages keep
// their order per worker.
#pragma once

#include <cstddef>
#include <vector>

#include "7zTypes.h"
#include "extract/heap_buffer.h"
#include "extract/threads.h"

namespace kv {

// The result a folder cut short by the writer ends with.
constexpr SRes kCancelled = SZ_ERROR_PROGRESS;

struct Chunk {
  enum class Kind { kData, kFolderEnd, kWorkerEnd };
  Kind kind = Kind::kData;
  UInt32 folder = 0;
  SRes result = SZ_OK;  // with kFolderEnd
  size_t size = 0;
  Byte* data = nullptr;  // kChunkSize bytes
};

class ChunkQueue {
 public:
  static constexpr size_t kChunkSize = 1 << 18;
  static constexpr unsigned kChunkCount = 16;

  ChunkQueue();
  ChunkQueue(const ChunkQueue&) = delete;
  ChunkQueue& operator=(const ChunkQueue&) = delete;

  // false when the buffers or the semaphores could not be made.
  bool ok() const { return ok_; }

  Chunk* take();        // a free chunk (waits for one)
  void put(Chunk* c);   // to the writer
  Chunk* next();        // the oldest message (waits for one)
  void give(Chunk* c);  // back to the pool

 private:
  HeapBuffer storage_;
  Chunk chunks_[kChunkCount];
  Mutex mutex_;
  Semaphore free_;
  Semaphore full_;
  Chunk* freeList_[kChunkCount] = {};
  unsigned freeCount_ = 0;
  Chunk* ring_[kChunkCount] = {};
  unsigned head_ = 0;
  unsigned count_ = 0;
  bool ok_ = false;
};

}  // namespace kv
