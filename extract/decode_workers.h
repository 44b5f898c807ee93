// DecodeWorkers: the threads that decode the folders of an open archive
// and send their bytes, in order per folder, through a ChunkQueue.
//
// Folders are handed out in archive order, except that the one with the
// most bytes goes first so that it does not end the run alone on one
// processor. Several are decoded at once,
// one per processor, as long as their dictionaries together stay within
// the memory budget: the largest folder's need plus kExtraBudget, so that
// decoding in parallel never needs more than decoding the largest folder
// alone and a few MB. A folder that holds most of the archive's bytes, or
// the only one, gets all processors instead (the multi-threaded LZMA2
// decoder, or BCJ2's main stream on a thread of its own).
//
// The writer stops work by lowering the stop index (the first file entry
// not to be extracted): a folder whose last file lies at or past it is
// cut short (its end message then carries kCancelled), one whose first
// file lies past it is not started. Every folder that was started ends
// with a kFolderEnd message, every worker with a kWorkerEnd message.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "7z.h"
#include "extract/chunk_queue.h"
#include "extract/pack_reader.h"
#include "extract/threads.h"

namespace kv {

class DecodeWorkers {
 public:
  static constexpr UInt64 kExtraBudget = 6u << 20;

  // `folders` lists the folders to decode in order, with the index of
  // their first and last file entries.
  struct Folder {
    UInt32 index;
    UInt32 firstFile;
    UInt32 lastFile;
  };

  DecodeWorkers(const CSzArEx& db, ArchiveInput& input, ChunkQueue& queue,
                std::vector<Folder> folders, std::atomic<UInt32>& stopIndex);
  ~DecodeWorkers();  // waits for the threads
  DecodeWorkers(const DecodeWorkers&) = delete;
  DecodeWorkers& operator=(const DecodeWorkers&) = delete;

  // Starts up to `processors` threads; the number started (0: none could
  // be, nothing will come through the queue).
  unsigned start(unsigned processors);

 private:
  struct Worker;
  static void run(void* worker);
  bool nextFolder(size_t* position, unsigned* threads);
  void release(size_t position);

  const CSzArEx& db_;
  ArchiveInput& input_;
  ChunkQueue& queue_;
  std::vector<Folder> folders_;
  std::vector<UInt64> needs_;
  std::atomic<UInt32>& stopIndex_;
  UInt64 budget_ = 0;
  UInt64 inUse_ = 0;
  UInt64 totalBytes_ = 0;
  std::vector<size_t> order_;  // positions in folders_, in the order handed out
  size_t nextOrder_ = 0;
  unsigned processors_ = 1;
  unsigned workerCount_ = 0;
  Mutex mutex_;
  Semaphore released_;
  std::vector<std::unique_ptr<Worker>> workers_;
};

}  // namespace kv
