// EntryWriter: on the extracting thread, turns the unpacked byte streams
// of the folders into files below the target directory as the bytes
// arrive, several folders at a time if need be (one open file each).
//
// Every file is written into the run's staging folder under a name of its
// own (the entry index) and its CRC-32 is checked when its last byte is
// written; a file that fails (CRC mismatch, damaged data, write error, cut
// short) never replaces what was at its place. Files are moved into place
// in archive order only: one that is complete waits in the staging folder
// until every file before it is in place, so no file after a failed one
// appears, and of two entries with one name the later one wins. Parent
// folders are made at that turn too, so a link an earlier entry made on
// the way is always seen (and refused). A
// symbolic-link entry is kept in memory and made at its turn when its
// target stays inside the target directory. Failures are kept by entry
// index: the lowest one wins, and the stop index (shared with the
// decoders) drops to it so that later entries are not attempted. Its
// message (if any) is printed by printFailure(). Progress: update(files
// written) after each file, updateBytes(bytes written) after each piece.
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
#include "extract/output_file.h"

namespace kv {

class EntryWriter {
 public:
  // `folderFiles` lists the file entries of each folder in order;
  // `stagingDir` is the run's staging folder inside `targetDir`.
  EntryWriter(const std::string& targetDir, const std::string& stagingDir, const Archive& archive,
              const FolderFiles& folderFiles, IProgress* progress, IByteProgress* bytes,
              std::atomic<UInt32>& stopIndex);
  ~EntryWriter();
  EntryWriter(const EntryWriter&) = delete;
  EntryWriter& operator=(const EntryWriter&) = delete;

  void data(UInt32 folder, const Byte* data, size_t size);
  void folderEnd(UInt32 folder, SRes result);
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
  bool commitEntry(std::unique_ptr<Open>* open);
  void commitInOrder();
  void dropEntry(std::unique_ptr<Open>* open);
  bool startNext(UInt32 folder, FolderState& state);

  void refuse(UInt32 index, const std::string& name);

  std::string targetDir_;
  std::string stagingDir_;
  const Archive& archive_;
  const CSzArEx& db_;
  const FolderFiles& folderFiles_;
  std::vector<FolderState> folders_;
  IProgress* progress_;
  IByteProgress* bytes_;
  std::atomic<UInt32>& stopIndex_;
  int written_ = 0;
  uint64_t bytesWritten_ = 0;
  UInt32 failedIndex_ = 0xFFFFFFFFu;
  int failedCode_ = 0;
  std::string failedMessage_;
  std::map<UInt32, std::unique_ptr<Open>> verified_;  // complete, waiting their turn
  UInt32 nextCommit_ = 0;
  bool committing_ = false;
};

}  // namespace kv
