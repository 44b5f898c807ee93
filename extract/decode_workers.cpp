#include "extract/decode_workers.h"

#include <cstring>

#include "extract/folder_decoder.h"

namespace kv {

namespace {

constexpr unsigned kMaxWorkers = 64;
// The multi-threaded LZMA2 decoder holds a block per thread.
constexpr UInt64 kThreadedBlockNeed =
    FolderDecoder::kMaxThreadedBlock + FolderDecoder::kMaxThreadedBlock / 16;

// Cuts a folder's bytes into chunks for the writer.
class ChunkSink final : public ByteSink {
 public:
  ChunkSink(ChunkQueue& queue, const CSzArEx& db, const DecodeWorkers::Folder& folder,
            std::atomic<UInt32>& stopIndex)
      : queue_(queue), db_(db), folder_(folder), stopIndex_(stopIndex) {}

  SRes write(const Byte* data, size_t size) override {
    while (size > 0) {
      if (stopped()) return kCancelled;
      if (!chunk_) {
        chunk_ = queue_.take();
        chunk_->folder = folder_.index;
      }
      size_t piece = ChunkQueue::kChunkSize - chunk_->size;
      if (piece > size) piece = size;
      std::memcpy(chunk_->data + chunk_->size, data, piece);
      chunk_->size += piece;
      data += piece;
      size -= piece;
      sent_ += piece;
      if (chunk_->size == ChunkQueue::kChunkSize) flush();
    }
    return SZ_OK;
  }

  // The bytes before a failure still complete the files they hold.
  void finish(SRes result) {
    flush();
    if (!chunk_) chunk_ = queue_.take();
    chunk_->kind = Chunk::Kind::kFolderEnd;
    chunk_->folder = folder_.index;
    chunk_->size = 0;
    chunk_->result = result;
    queue_.put(chunk_);
    chunk_ = nullptr;
  }

 private:
  // Whether the writer needs no more of this folder: everything before
  // the stop index was sent.
  bool stopped() const {
    const UInt32 stop = stopIndex_.load(std::memory_order_relaxed);
    if (stop > folder_.lastFile) return false;
    if (stop <= folder_.firstFile) return true;
    return sent_ >= db_.UnpackPositions[stop] - db_.UnpackPositions[folder_.firstFile];
  }
  void flush() {
    if (chunk_ && chunk_->size > 0) {
      queue_.put(chunk_);
      chunk_ = nullptr;
    }
  }

  ChunkQueue& queue_;
  const CSzArEx& db_;
  DecodeWorkers::Folder folder_;
  std::atomic<UInt32>& stopIndex_;
  UInt64 sent_ = 0;
  Chunk* chunk_ = nullptr;
};

}  // namespace

struct DecodeWorkers::Worker {
  DecodeWorkers* owner;
  FolderDecoder decoder;
  Thread thread;
  Worker(DecodeWorkers* owner, ArchiveInput& input) : owner(owner), decoder(input) {}
};

DecodeWorkers::DecodeWorkers(const CSzArEx& db, ArchiveInput& input, ChunkQueue& queue,
                             std::vector<Folder> folders, std::atomic<UInt32>& stopIndex)
    : db_(db),
      input_(input),
      queue_(queue),
      folders_(std::move(folders)),
      stopIndex_(stopIndex),
      released_(0, 0x7FFFFFFF) {
  UInt64 largest = 0;
  size_t longest = 0;
  UInt64 longestBytes = 0;
  for (size_t i = 0; i < folders_.size(); ++i) {
    const UInt64 need = folderMemoryNeed(db_, folders_[i].index);
    needs_.push_back(need);
    if (need > largest) largest = need;
    const UInt64 bytes = SzAr_GetFolderUnpackSize(&db_.db, folders_[i].index);
    totalBytes_ += bytes;
    if (bytes > longestBytes) {
      longest = i;
      longestBytes = bytes;
    }
  }
  budget_ = largest + kExtraBudget;
  // The folder with the most bytes goes first, so that it does not run
  // alone at the end; the others follow in archive order.
  if (!folders_.empty()) order_.push_back(longest);
  for (size_t i = 0; i < folders_.size(); ++i) {
    if (i != longest) order_.push_back(i);
  }
}

DecodeWorkers::~DecodeWorkers() {
  for (auto& worker : workers_) worker->thread.join();
}

unsigned DecodeWorkers::start(unsigned processors) {
  processors_ = processors < 1 ? 1 : (processors > kMaxWorkers ? kMaxWorkers : processors);
  if (!mutex_.ok() || !released_.ok()) return 0;
  size_t wanted = folders_.size() < processors_ ? folders_.size() : processors_;
  if (wanted == 0) wanted = 1;  // one worker still reports its end
  {
    Lock lock(mutex_);
    for (size_t i = 0; i < wanted; ++i) {
      workers_.emplace_back(new Worker(this, input_));
      if (!workers_.back()->thread.start(&DecodeWorkers::run, workers_.back().get())) {
        workers_.pop_back();
        break;
      }
      ++workerCount_;
    }
  }
  return workerCount_;
}

bool DecodeWorkers::nextFolder(size_t* position, unsigned* threads) {
  for (;;) {
    {
      Lock lock(mutex_);
      // Folders past the stop index are not started.
      while (nextOrder_ < order_.size() &&
             folders_[order_[nextOrder_]].firstFile >= stopIndex_.load()) {
        ++nextOrder_;
      }
      if (nextOrder_ >= order_.size()) return false;
      const size_t next = order_[nextOrder_];
      const Folder& folder = folders_[next];
      const UInt64 bytes = SzAr_GetFolderUnpackSize(&db_.db, folder.index);
      // Most of the archive in one folder: all processors on it.
      unsigned wanted = 1;
      if (processors_ > 1 && (bytes * 2 >= totalBytes_ || folders_.size() == 1)) {
        wanted = processors_;
      }
      UInt64 need = needs_[next];
      if (wanted > 1 && need > 0) need = wanted * kThreadedBlockNeed > need ? wanted * kThreadedBlockNeed : need;
      if (inUse_ == 0 || inUse_ + need <= budget_) {
        inUse_ += need;
        needs_[next] = need;
        *position = next;
        ++nextOrder_;
        *threads = wanted;
        return true;
      }
    }
    released_.wait();
  }
}

void DecodeWorkers::release(size_t position) {
  unsigned waiters = 0;
  {
    Lock lock(mutex_);
    if (position < needs_.size()) inUse_ -= needs_[position];
    waiters = workerCount_;
  }
  for (unsigned i = 0; i < waiters; ++i) released_.post();
}

void DecodeWorkers::run(void* argument) {
  Worker* worker = static_cast<Worker*>(argument);
  DecodeWorkers* self = worker->owner;
  size_t position = 0;
  unsigned threads = 1;
  while (self->nextFolder(&position, &threads)) {
    const Folder& folder = self->folders_[position];
    ChunkSink sink(self->queue_, self->db_, folder, self->stopIndex_);
    const SRes result = worker->decoder.decode(self->db_, folder.index, threads, &sink);
    sink.finish(result);
    self->release(position);
  }
  Chunk* end = self->queue_.take();
  end->kind = Chunk::Kind::kWorkerEnd;
  self->queue_.put(end);
  // Wake a worker that waits for memory no one else will release.
  self->release(self->folders_.size());
}

}  // namespace kv
