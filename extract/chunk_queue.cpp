#include "extract/chunk_queue.h"

namespace kv {

ChunkQueue::ChunkQueue() : free_(kChunkCount, kChunkCount), full_(0, kChunkCount) {
  if (!mutex_.ok() || !free_.ok() || !full_.ok()) return;
  if (!storage_.reserve(kChunkSize * kChunkCount)) return;
  for (unsigned i = 0; i < kChunkCount; ++i) {
    chunks_[i].data = storage_.data() + i * kChunkSize;
    freeList_[freeCount_++] = &chunks_[i];
  }
  ok_ = true;
}

Chunk* ChunkQueue::take() {
  free_.wait();
  Lock lock(mutex_);
  Chunk* c = freeList_[--freeCount_];
  c->kind = Chunk::Kind::kData;
  c->size = 0;
  c->result = SZ_OK;
  return c;
}

void ChunkQueue::put(Chunk* c) {
  {
    Lock lock(mutex_);
    ring_[(head_ + count_) % kChunkCount] = c;
    ++count_;
  }
  full_.post();
}

Chunk* ChunkQueue::next() {
  full_.wait();
  Lock lock(mutex_);
  Chunk* c = ring_[head_];
  head_ = (head_ + 1) % kChunkCount;
  --count_;
  return c;
}

void ChunkQueue::give(Chunk* c) {
  {
    Lock lock(mutex_);
    freeList_[freeCount_++] = c;
  }
  free_.post();
}

}  // namespace kv
