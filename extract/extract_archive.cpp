#include "extract/extract_archive.h"

#include <atomic>
#include <cerrno>
#include <vector>

#include "base/byte_progress.h"
#include "extract/archive.h"
#include "extract/decode_log.h"
#include "extract/decode_workers.h"
#include "extract/entry_path.h"
#include "extract/entry_writer.h"
#include "extract/host.h"
#include "extract/output_file.h"
#include "extract/pack_reader.h"
#include "extract/safe_path.h"
#include "extract/threads.h"

namespace kv {

namespace {

// Decodes the folders on worker threads, which write their files; puts
// the files in place here.
void extractFolders(const CSzArEx& db, BlockStream& stream, const FolderFiles& folderFiles,
                    EntryWriter& writer, std::atomic<UInt32>& stopIndex) {
  std::vector<DecodeWorkers::Folder> folders;
  for (UInt32 f = 0; f < folderFiles.folderCount(); ++f) {
    const FolderFiles::List files = folderFiles.of(f);
    if (files.empty() || files.front() >= stopIndex.load()) continue;
    folders.push_back({f, files.front(), files.back()});
  }
  if (folders.empty()) return;
  const UInt32 firstFile = folders.front().firstFile;

  if (!writer.ok()) return writer.fail(firstFile, SZ_ERROR_MEM, "");
  ArchiveInput input(stream.seekStream());
  DecodeWorkers workers(db, input, writer, std::move(folders), stopIndex);
  const unsigned running = workers.start(processorCount());
  if (running == 0) return writer.fail(firstFile, SZ_ERROR_MEM, "");
  writer.placeWhileWriting(running);
}

// Whether the entry's first real component (past "." and empty ones) is
// named like a staging folder.
bool entersStagingFolder(const std::string& name) {
  size_t begin = 0;
  while (begin < name.size()) {
    size_t end = name.find_first_of("/\\", begin);
    if (end == std::string::npos) end = name.size();
    const std::string component = name.substr(begin, end - begin);
    if (!component.empty() && component != ".")
      return component.rfind(output::kStagingPrefix, 0) == 0;
    begin = end + 1;
  }
  return false;
}

// Removes the run's staging folder however the extraction ends.
class StagingFolder {
 public:
  StagingFolder() = default;
  StagingFolder(const StagingFolder&) = delete;
  StagingFolder& operator=(const StagingFolder&) = delete;
  ~StagingFolder() { output::removeStagingFolder(path_); }

  int make(const std::string& targetDir) {
    output::removeStaleStagingFolders(targetDir);
    return output::makeStagingFolder(targetDir, &path_);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace

int extractArchive(const std::string& targetDir, IProgress* progress, BlockStream& stream,
                   std::string* failure) {
  Archive archive;
  if (int result = archive.open(stream.lookStream())) return result;
  const CSzArEx& db = archive.database();
  FolderFiles folderFiles;
  if (!folderFiles.build(db)) return SZ_ERROR_MEM;

  int files = 0;
  uint64_t totalBytes = 0;
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    if (SzArEx_IsDir(&db, i)) continue;
    ++files;
    totalBytes += SzArEx_GetFileSize(&db, i);
  }
  IByteProgress* bytes = dynamic_cast<IByteProgress*>(progress);
  if (progress) progress->start(files);
  if (bytes) bytes->startBytes(totalBytes);

  makeDirectoryChain(targetDir);

  StagingFolder staging;
  const int stagingError = staging.make(targetDir);
  std::atomic<UInt32> stopIndex(db.NumFiles);
  EntryWriter writer(targetDir, staging.path(), archive, folderFiles, progress, bytes, stopIndex);
  if (stagingError != 0) {
    writer.fail(0, SZ_ERROR_FAIL,
                "Could not open output file '" + targetDir + "/" + output::kStagingPrefix +
                    "' error " + std::to_string(stagingError) + "\n");
  }
  // A name that would leave the target or enter a staging folder, one too
  // long for any host, or a link where none can be made, ends the
  // extraction before it.
  for (UInt32 i = 0; i < db.NumFiles && stagingError == 0; ++i) {
    if (SzArEx_IsDir(&db, i)) continue;
    const ArchiveEntry entry = archive.entry(i);
    if (entry.nameIsCut) {
      writer.fail(i, SZ_ERROR_FAIL,
                  "Could not open output file '" + targetDir + "/" + entry.name + "' error " +
                      std::to_string(ENAMETOOLONG) + "\n");
      break;
    }
    if (!isSafeEntryName(entry.name) || entersStagingFolder(entry.name) ||
        (entry.isSymbolicLink() && !output::makesSymbolicLinks())) {
      writer.fail(i, SZ_ERROR_FAIL, "Refusing unsafe archive entry '" + entry.name + "'\n");
      break;
    }
  }
  DecodeLog* log = decodeLog();
  const double placingStart = log ? threadCpuSeconds() : 0;
  extractFolders(db, stream, folderFiles, writer, stopIndex);
  writer.finishCommits();
  if (log) log->placed(threadCpuSeconds() - placingStart);
  if (failure) {
    *failure = writer.failureMessage();
  } else {
    writer.printFailure();
  }
  if (progress) progress->finish();
  return writer.result();
}

}  // namespace kv
