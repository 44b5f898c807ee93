#include "extract/decode_workers.h"

#include <cstring>

#include "extract/block_extraction.h"
#include "extract/folder_decoder.h"

namespace kv {

namespace {

constexpr unsigned kMaxWorkers = 64;

std::atomic<std::FILE*> decodeLog{nullptr};

unsigned long long ull(UInt64 value) { return static_cast<unsigned long long>(value); }

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

void setDecodeLog(std::FILE* log) { decodeLog.store(log); }

struct DecodeWorkers::Worker {
  DecodeWorkers* owner;
  FolderDecoder decoder;
  Thread thread;
  Worker(DecodeWorkers* owner, ArchiveInput& input) : owner(owner), decoder(input) {}
};

// A unit decoded ahead, waiting for its folder's earlier units.
struct DecodeWorkers::Ahead {
  size_t unit = 0;
  SRes result = SZ_OK;
  HeapBuffer buffer;
};

// A folder cut into units: its way to the writer, used by one sender at a
// time (the unit in turn), and the units decoded ahead.
struct DecodeWorkers::FolderRun {
  std::unique_ptr<ChunkSink> sink;
  std::unique_ptr<FolderStream> stream;
  std::map<unsigned, std::unique_ptr<Ahead>> ahead;  // by part
  bool ended = false;
};

DecodeWorkers::DecodeWorkers(const CSzArEx& db, ArchiveInput& input, ChunkQueue& queue,
                             std::vector<Folder> folders, std::atomic<UInt32>& stopIndex)
    : db_(db),
      input_(input),
      queue_(queue),
      folders_(std::move(folders)),
      runs_(folders_.size()),
      stopIndex_(stopIndex),
      released_(0, 0x7FFFFFFF) {}

DecodeWorkers::~DecodeWorkers() {
  for (auto& worker : workers_) worker->thread.join();
  std::FILE* log = decodeLog.load();
  if (log && schedule_) std::fprintf(log, "peak %llu\n", ull(schedule_->peak()));
}

unsigned DecodeWorkers::start(unsigned processors) {
  processors_ = processors < 1 ? 1 : (processors > kMaxWorkers ? kMaxWorkers : processors);
  if (!mutex_.ok() || !released_.ok()) return 0;
  std::vector<DecodeUnit> units;
  for (size_t i = 0; i < folders_.size(); ++i) {
    planFolder(db_, folders_[i].index, i, input_, &units);
  }
  const UInt64 physical = physicalMemory();
  const UInt64 ceiling =
      physical == 0 ? kNarrowCeiling : memoryCeiling(physical, sizeof(void*) == 4);
  schedule_.reset(new DecodeSchedule(std::move(units), folders_.size(), processors_, ceiling));
  if (std::FILE* log = decodeLog.load()) {
    const MemoryRule& rule = schedule_->rule();
    std::fprintf(log, "plan processors %u parallel %u budget %llu ceiling %llu\n", processors_,
                 rule.parallel, ull(rule.budget), ull(ceiling));
    for (size_t position : schedule_->order()) {
      const DecodeUnit& u = schedule_->units()[position];
      std::fprintf(log,
                   "unit %zu folder %zu part %u parts %u unpack %llu pack %llu stream_need %llu "
                   "buffer_need %llu\n",
                   position, u.folder, u.part, u.parts, ull(u.unpackSize), ull(u.packSize),
                   ull(u.streamNeed), ull(u.bufferNeed));
    }
  }
  size_t wanted = schedule_->units().size() < processors_ ? schedule_->units().size() : processors_;
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

bool DecodeWorkers::nextUnit(size_t* unit, bool* streaming) {
  for (;;) {
    {
      Lock lock(mutex_);
      switch (schedule_->take(unit, streaming)) {
        case DecodeSchedule::Take::kUnit:
          return true;
        case DecodeSchedule::Take::kDone:
          return false;
        case DecodeSchedule::Take::kWait:
          break;
      }
    }
    released_.wait();
  }
}

void DecodeWorkers::wake() {
  unsigned waiters = 0;
  {
    Lock lock(mutex_);
    waiters = workerCount_;
  }
  for (unsigned i = 0; i < waiters; ++i) released_.post();
}

// The unit's memory is free (and its folder's next unit may stream).
void DecodeWorkers::finished(size_t unit) {
  {
    Lock lock(mutex_);
    schedule_->sent(unit);
  }
  wake();
}

void DecodeWorkers::work(Worker& worker, size_t position, bool streaming) {
  const DecodeUnit unit = schedule_->units()[position];
  const Folder& folder = folders_[unit.folder];
  FolderRun& run = runs_[unit.folder];
  bool skip = false;
  {
    Lock lock(mutex_);
    // A folder that failed, or whose first file the writer no longer wants.
    skip = run.ended;
    if (unit.part == 0 && folder.firstFile >= stopIndex_.load()) {
      skip = true;
      run.ended = true;
      schedule_->dropFolder(unit.folder);
    }
    if (skip) {
      schedule_->sent(position);
      for (auto& entry : run.ahead) schedule_->sent(entry.second->unit);
      run.ahead.clear();
    }
  }
  if (skip) return wake();

  const double cpuStart = decodeLog.load() ? threadCpuSeconds() : 0;
  auto logTime = [&]() {
    if (std::FILE* log = decodeLog.load()) {
      std::fprintf(log, "time %zu ahead %d cpu %.6f\n", position, streaming ? 0 : 1,
                   threadCpuSeconds() - cpuStart);
    }
  };
  if (unit.parts == 1) {
    ChunkSink sink(queue_, db_, folder, stopIndex_);
    const SRes result = worker.decoder.decode(db_, folder.index, processors_ > 1 ? 2 : 1, &sink);
    logTime();
    sink.finish(result);
    {
      Lock lock(mutex_);
      run.ended = true;
    }
    return finished(position);
  }
  if (streaming) {
    // In turn: straight through the folder's stream to the writer.
    if (unit.part == 0) {
      run.sink.reset(new ChunkSink(queue_, db_, folder, stopIndex_));
      run.stream.reset(new FolderStream(db_, folder.index, run.sink.get()));
    }
    const SRes result =
        worker.decoder.decodePart(db_, folder.index, unit, nullptr, run.stream.get());
    logTime();
    return sendOn(position, result);
  }
  std::unique_ptr<Ahead> ahead(new Ahead);
  ahead->unit = position;
  ahead->result = worker.decoder.decodePart(db_, folder.index, unit, &ahead->buffer, nullptr);
  if (ahead->result == SZ_ERROR_MEM) {
    // No room to decode ahead (a 32-bit process): wait for the turn and
    // stream, which needs only the dictionary.
    ahead.reset();
    for (;;) {
      {
        Lock lock(mutex_);
        if (run.ended) {
          schedule_->sent(position);
          break;
        }
        if (schedule_->sentParts(unit.folder) == unit.part) {
          streaming = true;
          break;
        }
      }
      released_.wait();
    }
    if (!streaming) return wake();
    const SRes result =
        worker.decoder.decodePart(db_, folder.index, unit, nullptr, run.stream.get());
    logTime();
    return sendOn(position, result);
  }
  logTime();
  {
    Lock lock(mutex_);
    if (run.ended) {
      schedule_->sent(position);
      ahead.reset();
    } else if (schedule_->sentParts(unit.folder) != unit.part) {
      // The sender of the unit before it sends it too.
      run.ahead[unit.part] = std::move(ahead);
      return;
    }
  }
  if (!ahead) return wake();
  SRes result = ahead->result;
  if (result == SZ_OK) result = run.stream->write(ahead->buffer.data(), unit.unpackSize);
  ahead.reset();
  sendOn(position, result);
}

// After the unit's bytes went through its folder's stream with `result`:
// ends the folder, or frees the unit and sends the next one if it was
// decoded ahead.
void DecodeWorkers::sendOn(size_t position, SRes result) {
  for (;;) {
    const DecodeUnit& unit = schedule_->units()[position];
    FolderRun& run = runs_[unit.folder];
    const bool last = unit.part + 1 == unit.parts;
    if (result == SZ_OK && last) result = run.stream->finish();
    if (result != SZ_OK || last) {
      run.sink->finish(result);
      {
        Lock lock(mutex_);
        run.ended = true;
        schedule_->dropFolder(unit.folder);
        schedule_->sent(position);
        for (auto& entry : run.ahead) schedule_->sent(entry.second->unit);
        run.ahead.clear();
      }
      return wake();
    }
    std::unique_ptr<Ahead> next;
    {
      Lock lock(mutex_);
      schedule_->sent(position);
      auto found = run.ahead.find(unit.part + 1);
      if (found != run.ahead.end()) {
        next = std::move(found->second);
        run.ahead.erase(found);
      }
    }
    wake();
    if (!next) return;
    position = next->unit;
    result = next->result;
    if (result == SZ_OK) {
      result = run.stream->write(next->buffer.data(), schedule_->units()[position].unpackSize);
    }
  }
}

void DecodeWorkers::run(void* argument) {
  Worker* worker = static_cast<Worker*>(argument);
  DecodeWorkers* self = worker->owner;
  size_t unit = 0;
  bool streaming = true;
  while (self->nextUnit(&unit, &streaming)) self->work(*worker, unit, streaming);
  Chunk* end = self->queue_.take();
  end->kind = Chunk::Kind::kWorkerEnd;
  self->queue_.put(end);
  // Wake a worker that waits for memory no one else will release.
  self->wake();
}

}  // namespace kv
