#include "extract/decode_workers.h"

#include "extract/decode_log.h"
#include "extract/folder_decoder.h"
#include "extract/writer_pipe.h"

namespace kv {

namespace {

constexpr unsigned kMaxWorkers = 64;

// Hands a folder's bytes to the output in pieces, until the output wants
// no more of them, straight or through a pipe to a writing thread; with the
// decode log on, counts the CPU time the output took (writing the files, or
// handing the bytes to the pipe) apart from the decoding.
class OutputSink final : public ByteSink {
 public:
  static constexpr size_t kPiece = 1 << 18;

  OutputSink(FolderOutput& output, const CSzArEx& db, const DecodeWorkers::Folder& folder,
             std::atomic<UInt32>& stopIndex, WriterPipe* pipe)
      : output_(output), db_(db), folder_(folder), stopIndex_(stopIndex), pipe_(pipe) {}

  SRes write(const Byte* data, size_t size) override {
    const double start = decodeLog() ? threadCpuSeconds() : 0;
    SRes result = SZ_OK;
    while (size > 0) {
      if (stopped()) {
        result = kCancelled;
        break;
      }
      const size_t piece = size < kPiece ? size : kPiece;
      if (pipe_) {
        pipe_->data(data, piece);
      } else {
        output_.data(folder_.index, data, piece);
      }
      data += piece;
      size -= piece;
      sent_ += piece;
    }
    if (decodeLog()) writeCpu_ += threadCpuSeconds() - start;
    return result;
  }

  // The bytes before a failure still complete the files they hold.
  void finish(SRes result) {
    if (pipe_) pipe_->finish();
    output_.folderEnd(folder_.index, result);
  }

  // The CPU time spent in write() so far (with the decode log on).
  double writeCpu() const { return writeCpu_; }

 private:
  // Whether the output needs no more of this folder: everything before
  // the stop index was sent.
  bool stopped() const {
    const UInt32 stop = stopIndex_.load(std::memory_order_relaxed);
    if (stop > folder_.lastFile) return false;
    if (stop <= folder_.firstFile) return true;
    return sent_ >= db_.UnpackPositions[stop] - db_.UnpackPositions[folder_.firstFile];
  }

  FolderOutput& output_;
  const CSzArEx& db_;
  DecodeWorkers::Folder folder_;
  std::atomic<UInt32>& stopIndex_;
  WriterPipe* pipe_;
  UInt64 sent_ = 0;
  double writeCpu_ = 0;
};

void logWritten(size_t position, double writeCpu) {
  if (DecodeLog* log = decodeLog()) log->written(position, writeCpu);
}

}  // namespace

// The decode log's clock of one unit, on the thread that decodes it.
class DecodeWorkers::UnitClock {
 public:
  UnitClock() : start_(decodeLog() ? threadCpuSeconds() : 0) {}
  // Logs the unit's decoding time: the thread's CPU time since the clock
  // started, less `writeCpu` spent meanwhile writing the unit's bytes
  // (logged too, unless the unit was decoded ahead: then it is sent later).
  void decoded(size_t position, bool ahead, double writeCpu) const {
    DecodeLog* log = decodeLog();
    if (!log) return;
    log->decoded(position, ahead, threadCpuSeconds() - start_ - writeCpu);
    if (!ahead) logWritten(position, writeCpu);
  }

 private:
  double start_;
};

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
  std::unique_ptr<WriterPipe> pipe;
  std::unique_ptr<OutputSink> sink;
  std::unique_ptr<FolderStream> stream;
  std::map<unsigned, std::unique_ptr<Ahead>> ahead;  // by part
  bool ended = false;
};

DecodeWorkers::DecodeWorkers(const CSzArEx& db, ArchiveInput& input, FolderOutput& output,
                             std::vector<Folder> folders, std::atomic<UInt32>& stopIndex)
    : db_(db),
      input_(input),
      output_(output),
      folders_(std::move(folders)),
      runs_(folders_.size()),
      stopIndex_(stopIndex),
      released_(0, 0x7FFFFFFF) {}

DecodeWorkers::~DecodeWorkers() {
  for (auto& worker : workers_) worker->thread.join();
  DecodeLog* log = decodeLog();
  if (log && schedule_) log->peak(schedule_->peak());
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
  shareHeapAcrossThreads();
  if (DecodeLog* log = decodeLog()) logPlan(*log, ceiling);
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

void DecodeWorkers::logPlan(DecodeLog& log, UInt64 ceiling) const {
  const MemoryRule& rule = schedule_->rule();
  log.plan(processors_, rule.parallel, rule.budget, ceiling);
  for (size_t position : schedule_->order()) {
    const DecodeUnit& u = schedule_->units()[position];
    LoggedUnit logged;
    logged.position = position;
    logged.folder = u.folder;
    logged.part = u.part;
    logged.parts = u.parts;
    logged.unpackSize = u.unpackSize;
    logged.packSize = u.packSize;
    logged.files = u.files;
    logged.streamNeed = u.streamNeed;
    logged.bufferNeed = u.bufferNeed;
    log.unit(logged);
  }
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

// Whether the unit is not wanted: its folder ended, or the output no
// longer wants the folder's first file. Its memory is then given back.
bool DecodeWorkers::skipUnit(size_t position) {
  const DecodeUnit& unit = schedule_->units()[position];
  FolderRun& run = runs_[unit.folder];
  Lock lock(mutex_);
  bool skip = run.ended;
  if (unit.part == 0 && folders_[unit.folder].firstFile >= stopIndex_.load()) {
    skip = true;
    run.ended = true;
    schedule_->dropFolder(unit.folder);
  }
  if (skip) {
    schedule_->sent(position);
    dropAhead(run);
  }
  return skip;
}

// Under the lock: the folder's units decoded ahead are not wanted.
void DecodeWorkers::dropAhead(FolderRun& run) {
  for (auto& entry : run.ahead) schedule_->sent(entry.second->unit);
  run.ahead.clear();
}

void DecodeWorkers::work(Worker& worker, size_t position, bool streaming) {
  if (skipUnit(position)) return wake();
  const UnitClock clock;
  if (schedule_->units()[position].parts == 1) return decodeWhole(worker, position, clock);
  if (streaming) return decodeInTurn(worker, position, clock);
  decodeAhead(worker, position, clock);
}

// A pipe to a writing thread of its own for a folder that streams, when
// there is more than one processor (with one, the thread would only take
// turns with the decoding) and the folder holds more than the pipe (a
// thread per small folder, as in an archive of one file per folder, would
// cost more than it saves); none when it cannot be had.
std::unique_ptr<WriterPipe> DecodeWorkers::startPipe(UInt32 folder) {
  if (processors_ < 2) return nullptr;
  if (SzAr_GetFolderUnpackSize(&db_.db, folder) <= WriterPipe::kPieces * WriterPipe::kPieceSize) {
    return nullptr;
  }
  std::unique_ptr<WriterPipe> pipe(new WriterPipe(output_, folder));
  if (!pipe->start()) pipe.reset();
  return pipe;
}

// A folder of one unit: straight through to the output.
void DecodeWorkers::decodeWhole(Worker& worker, size_t position, const UnitClock& clock) {
  const DecodeUnit& unit = schedule_->units()[position];
  const Folder& folder = folders_[unit.folder];
  std::unique_ptr<WriterPipe> pipe = startPipe(folder.index);
  OutputSink sink(output_, db_, folder, stopIndex_, pipe.get());
  const SRes result = worker.decoder.decode(db_, folder.index, processors_ > 1 ? 2 : 1, &sink);
  clock.decoded(position, false, sink.writeCpu());
  sink.finish(result);
  {
    Lock lock(mutex_);
    runs_[unit.folder].ended = true;
  }
  finished(position);
}

// A unit in its folder's turn: through the folder's stream to the output.
void DecodeWorkers::decodeInTurn(Worker& worker, size_t position, const UnitClock& clock) {
  const DecodeUnit& unit = schedule_->units()[position];
  const Folder& folder = folders_[unit.folder];
  FolderRun& run = runs_[unit.folder];
  if (unit.part == 0) {
    run.pipe = startPipe(folder.index);
    run.sink.reset(new OutputSink(output_, db_, folder, stopIndex_, run.pipe.get()));
    run.stream.reset(new FolderStream(db_, folder.index, run.sink.get()));
  }
  const double written = run.sink->writeCpu();
  const SRes result = worker.decoder.decodePart(db_, folder.index, unit, nullptr, run.stream.get());
  clock.decoded(position, false, run.sink->writeCpu() - written);
  sendOn(position, result);
}

// A later unit of its folder: decoded into a buffer meanwhile, and sent
// by the thread that sends the unit before it (or by this one, when that
// one was sent already).
void DecodeWorkers::decodeAhead(Worker& worker, size_t position, const UnitClock& clock) {
  const DecodeUnit& unit = schedule_->units()[position];
  std::unique_ptr<Ahead> ahead(new Ahead);
  ahead->unit = position;
  ahead->result =
      worker.decoder.decodePart(db_, folders_[unit.folder].index, unit, &ahead->buffer, nullptr);
  if (ahead->result == SZ_ERROR_MEM) {
    // No room to decode ahead (a 32-bit process): wait for the turn and
    // stream, which needs only the dictionary.
    ahead.reset();
    if (!waitForTurn(position)) return wake();
    return decodeInTurn(worker, position, clock);
  }
  clock.decoded(position, true, 0);
  {
    Lock lock(mutex_);
    FolderRun& run = runs_[unit.folder];
    if (run.ended) {
      schedule_->sent(position);
      ahead.reset();
    } else if (schedule_->sentParts(unit.folder) != unit.part) {
      run.ahead[unit.part] = std::move(ahead);
      return;
    }
  }
  if (!ahead) return wake();
  sendOn(position, sendBuffer(std::move(ahead)));
}

// Whether the folder sent every unit before this one (false: the folder
// ended meanwhile, and the unit's memory is given back).
bool DecodeWorkers::waitForTurn(size_t position) {
  const DecodeUnit& unit = schedule_->units()[position];
  for (;;) {
    {
      Lock lock(mutex_);
      if (runs_[unit.folder].ended) {
        schedule_->sent(position);
        return false;
      }
      if (schedule_->sentParts(unit.folder) == unit.part) return true;
    }
    released_.wait();
  }
}

// A unit decoded ahead, in its turn: its bytes through the folder's
// stream; its buffer is freed on return.
SRes DecodeWorkers::sendBuffer(std::unique_ptr<Ahead> ahead) {
  if (ahead->result != SZ_OK) return ahead->result;
  const DecodeUnit& unit = schedule_->units()[ahead->unit];
  FolderRun& run = runs_[unit.folder];
  const double before = run.sink->writeCpu();
  const SRes result = run.stream->write(ahead->buffer.data(), unit.unpackSize);
  logWritten(ahead->unit, run.sink->writeCpu() - before);
  return result;
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
    if (result != SZ_OK || last) return endFolder(position, result);
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
    result = sendBuffer(std::move(next));
  }
}

// The folder ends with the unit at `position`, with `result`.
void DecodeWorkers::endFolder(size_t position, SRes result) {
  const DecodeUnit& unit = schedule_->units()[position];
  FolderRun& run = runs_[unit.folder];
  run.sink->finish(result);
  run.stream.reset();
  run.sink.reset();
  run.pipe.reset();
  {
    Lock lock(mutex_);
    run.ended = true;
    schedule_->dropFolder(unit.folder);
    schedule_->sent(position);
    dropAhead(run);
  }
  wake();
}

void DecodeWorkers::run(void* argument) {
  Worker* worker = static_cast<Worker*>(argument);
  DecodeWorkers* self = worker->owner;
  size_t unit = 0;
  bool streaming = true;
  while (self->nextUnit(&unit, &streaming)) self->work(*worker, unit, streaming);
  self->output_.writerEnd();
  // Wake a worker that waits for memory no one else will release.
  self->wake();
}

}  // namespace kv
