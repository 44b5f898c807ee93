// DecodeWorkers: the threads that decode the folders of an open archive
// and send their bytes, in order per folder, to a FolderOutput (which
// writes them into files on the sending thread, or, with more than one
// processor, on a writing thread of the folder's own behind a WriterPipe).
//
// The work is cut into units (DecodeSchedule: whole folders, or runs of
// independent LZMA2 blocks of a large folder) and every worker, one per
// processor, takes the next unit the schedule admits under its memory
// rule. A unit in its folder's turn streams to the writer; a later unit of
// the same folder decodes ahead into a buffer and is sent, after the units
// before it, by the worker that sends its predecessor (or by its own, when
// it is done last). A BCJ2 folder decodes its main stream on a second
// thread when there is more than one processor.
//
// The output stops work by lowering the stop index (the first file entry
// not to be extracted): a folder whose last file lies at or past it is
// cut short (its end message then carries kCancelled), one whose first
// file lies past it is not started. A folder whose unit fails ends with
// that failure after the bytes before it; its later units are dropped.
// Every folder that was started ends with folderEnd(), every worker with
// writerEnd().
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <vector>

#include "7z.h"
#include "extract/decode_schedule.h"
#include "extract/folder_output.h"
#include "extract/host.h"
#include "extract/pack_reader.h"
#include "extract/threads.h"

namespace kv {

class DecodeLog;
class WriterPipe;

class DecodeWorkers {
 public:
  // `folders` lists the folders to decode in order, with the index of
  // their first and last file entries.
  struct Folder {
    UInt32 index;
    UInt32 firstFile;
    UInt32 lastFile;
  };

  DecodeWorkers(const CSzArEx& db, ArchiveInput& input, FolderOutput& output,
                std::vector<Folder> folders, std::atomic<UInt32>& stopIndex);
  ~DecodeWorkers();  // waits for the threads
  DecodeWorkers(const DecodeWorkers&) = delete;
  DecodeWorkers& operator=(const DecodeWorkers&) = delete;

  // Plans the units and starts up to `processors` threads; the number
  // started (0: none could be, nothing will reach the output).
  unsigned start(unsigned processors);

 private:
  struct Worker;
  struct Ahead;
  struct FolderRun;
  class UnitClock;
  static void run(void* worker);
  void logPlan(DecodeLog& log, UInt64 ceiling) const;
  bool nextUnit(size_t* unit, bool* streaming);
  void work(Worker& worker, size_t unit, bool streaming);
  std::unique_ptr<WriterPipe> startPipe(UInt32 folder);
  bool skipUnit(size_t unit);
  void dropAhead(FolderRun& run);
  void decodeWhole(Worker& worker, size_t unit, const UnitClock& clock);
  void decodeInTurn(Worker& worker, size_t unit, const UnitClock& clock);
  void decodeAhead(Worker& worker, size_t unit, const UnitClock& clock);
  bool waitForTurn(size_t unit);
  SRes sendBuffer(std::unique_ptr<Ahead> ahead);
  void sendOn(size_t unit, SRes result);
  void endFolder(size_t unit, SRes result);
  void finished(size_t unit);
  void wake();

  const CSzArEx& db_;
  ArchiveInput& input_;
  FolderOutput& output_;
  std::vector<Folder> folders_;
  std::vector<FolderRun> runs_;
  std::atomic<UInt32>& stopIndex_;
  std::unique_ptr<DecodeSchedule> schedule_;
  unsigned processors_ = 1;
  unsigned workerCount_ = 0;
  Mutex mutex_;
  Semaphore released_;
  std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace kv
