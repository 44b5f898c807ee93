// EntryWriter: turns the unpacked byte streams of the folders into files
// below the target directory, written by the decoding threads and put in
// place by the extracting thread.
//
// Writing (data(), folderEnd()): each folder's bytes come from one thread
// at a time, in order; several folders are written at once on several
// threads, one open file each. Every file is written into the run's
// staging folder under a name of its own (the entry index), so writers
// never collide, and its CRC-32 is checked when its last byte is written;
// a file that fails (CRC mismatch, damaged data, write error, cut short)
// never replaces what was at its place.
//
// Placing (placeWhileWriting(), finishCommits(), on the extracting thread
// only): files are moved into place in archive order only: one that is
// complete waits in the staging folder until every file before it is in
// place, so no file after a failed one appears, and of two entries with
// one name the later one wins. Parent folders are made at that turn too,
// so a link an earlier entry made on the way is always seen (and refused).
// A symbolic-link entry is kept in memory and made at its turn when its
// target stays inside the target directory. Progress is reported here:
// update(files placed) after each file, updateBytes(bytes written) as the
// writers go on.
//
// Failures (fail(), from any thread) are kept by entry index: the lowest
// one wins, and the stop index (shared with the decoders) drops to it so
// that later entries are not attempted. Every entry below the lowest
// failing one is written and placed, so the failure reported does not
// depend on the threads' timing. Its message (if any) is printed by
// printFailure().
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "7z.h"
#include "base/byte_progress.h"
#include "base/progress.h"
#include "extract/archive.h"
#include "extract/folder_output.h"
#include "extract/output_file.h"
#include "extract/threads.h"

namespace kv {

class EntryWriter final : public FolderOutput {
 public:
  // `folderFiles` lists the file entries of each folder in order;
  // `stagingDir` is the run's staging folder inside `targetDir`.
  EntryWriter(const std::string& targetDir, const std::string& stagingDir, const Archive& archive,
              const FolderFiles& folderFiles, IProgress* progress, IByteProgress* bytes,
              std::atomic<UInt32>& stopIndex);
  ~EntryWriter();
  EntryWriter(const EntryWriter&) = delete;
  EntryWriter& operator=(const EntryWriter&) = delete;

  // false when its lock could not be made.
  bool ok() const { return mutex_.ok() && ready_.ok(); }

  // Writing threads.
  void data(UInt32 folder, const Byte* data, size_t size) override;
  void folderEnd(UInt32 folder, SRes result) override;
  void writerEnd() override;

  // Extracting thread: puts files in place as they are ready until
  // `writers` writing threads have ended (writerEnd()).
  void placeWhileWriting(unsigned writers);
  // At the end: puts the remaining files in place, up to a failed one, and
  // writes the files without data (empty files) before the stop index.
  void finishCommits();

  // Records a failure of entry `index` with its message ("" for none).
  void fail(UInt32 index, int code, const std::string& message);

  int result() const { return failedCode_; }
  void printFailure() const;
  const std::string& failureMessage() const { return failedMessage_; }

 private:
  struct Open;
  struct FolderState {
    size_t next = 0;  // position in the folder's file list
    std::unique_ptr<Open> open;
    bool stopped = false;
  };

  bool openEntry(UInt32 index, std::unique_ptr<Open>* open);
  bool closeEntry(std::unique_ptr<Open>* open);
  bool writeBytes(Open& file, const Byte* data, size_t size);
  bool commitEntry(std::unique_ptr<Open>* open);
  std::unique_ptr<Open> takeVerified(UInt32 index);
  void commitInOrder();
  void reportBytes();
  void dropEntry(std::unique_ptr<Open>* open);
  bool startNext(UInt32 folder, FolderState& state);

  void refuse(UInt32 index, const std::string& name);

  std::string targetDir_;
  std::string stagingDir_;
  const Archive& archive_;
  const CSzArEx& db_;
  const FolderFiles& folderFiles_;
  std::vector<FolderState> folders_;  // each used by its folder's writer
  IProgress* progress_;
  IByteProgress* bytes_;
  std::atomic<UInt32>& stopIndex_;
  std::atomic<uint64_t> bytesWritten_{0};
  uint64_t bytesPlaced_ = 0;  // the extracting thread's own

  // Shared between the writers and the extracting thread.
  Mutex mutex_;
  Semaphore ready_;  // posted when there may be something to place
  UInt32 failedIndex_ = 0xFFFFFFFFu;
  int failedCode_ = 0;
  std::string failedMessage_;
  std::map<UInt32, std::unique_ptr<Open>> verified_;  // complete, waiting their turn
  unsigned writersEnded_ = 0;

  // The extracting thread's own.
  UInt32 nextCommit_ = 0;
  int written_ = 0;
};

}  // namespace kv
