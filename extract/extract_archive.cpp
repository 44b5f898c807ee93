#include "extract/extract_archive.h"

#include <atomic>
#include <vector>

#include "core/byte_progress.h"
#include "extract/archive.h"
#include "extract/chunk_queue.h"
#include "extract/decode_workers.h"
#include "extract/entry_path.h"
#include "extract/entry_writer.h"
#include "extract/pack_reader.h"
#include "extract/safe_path.h"
#include "extract/threads.h"

namespace kv {

namespace {

constexpr UInt32 kNoFolder = 0xFFFFFFFFu;

// Decodes the folders on worker threads and writes their files here.
void extractFolders(const CSzArEx& db, BlockStream& stream,
                    const std::vector<std::vector<UInt32>>& folderFiles, EntryWriter& writer,
                    std::atomic<UInt32>& stopIndex) {
  std::vector<DecodeWorkers::Folder> folders;
  for (UInt32 f = 0; f < folderFiles.size(); ++f) {
    const std::vector<UInt32>& files = folderFiles[f];
    if (files.empty() || files.front() >= stopIndex.load()) continue;
    folders.push_back({f, files.front(), files.back()});
  }
  if (folders.empty()) return;
  const UInt32 firstFile = folders.front().firstFile;

  ChunkQueue queue;
  if (!queue.ok()) return writer.fail(firstFile, SZ_ERROR_MEM, "");
  ArchiveInput input(stream.seekStream());
  DecodeWorkers workers(db, input, queue, std::move(folders), stopIndex);
  unsigned running = workers.start(processorCount());
  if (running == 0) return writer.fail(firstFile, SZ_ERROR_MEM, "");
  while (running > 0) {
    Chunk* chunk = queue.next();
    switch (chunk->kind) {
      case Chunk::Kind::kData:
        writer.data(chunk->folder, chunk->data, chunk->size);
        break;
      case Chunk::Kind::kFolderEnd:
        writer.folderEnd(chunk->folder, chunk->result);
        break;
      case Chunk::Kind::kWorkerEnd:
        --running;
        break;
    }
    queue.give(chunk);
  }
}

}  // namespace

int extractArchive(const std::string& targetDir, IProgress* progress, BlockStream& stream) {
  Archive archive;
  if (int result = archive.open(stream.lookStream())) return result;
  const CSzArEx& db = archive.database();

  std::vector<ArchiveEntry> entries;
  entries.reserve(db.NumFiles);
  std::vector<std::vector<UInt32>> folderFiles(db.db.NumFolders);
  int files = 0;
  uint64_t totalBytes = 0;
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    entries.push_back(archive.entry(i));
    if (entries.back().isDirectory) continue;
    ++files;
    totalBytes += SzArEx_GetFileSize(&db, i);
    const UInt32 folder = db.FileToFolder[i];
    if (folder != kNoFolder && folder < folderFiles.size()) folderFiles[folder].push_back(i);
  }
  IByteProgress* bytes = dynamic_cast<IByteProgress*>(progress);
  if (progress) progress->start(files);
  if (bytes) bytes->startBytes(totalBytes);

  makeDirectoryChain(targetDir);

  std::atomic<UInt32> stopIndex(db.NumFiles);
  EntryWriter writer(targetDir, db, entries, folderFiles, progress, bytes, stopIndex);
  // A name that would leave the target ends the extraction before it.
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    if (!entries[i].isDirectory && !isSafeEntryName(entries[i].name)) {
      writer.fail(i, SZ_ERROR_FAIL, "Refusing unsafe archive entry '" + entries[i].name + "'\n");
      break;
    }
  }
  extractFolders(db, stream, folderFiles, writer, stopIndex);
  writer.finishCommits();
  writer.printFailure();
  if (progress) progress->finish();
  return writer.result();
}

}  // namespace kv
