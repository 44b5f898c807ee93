#include "extract/entry_writer.h"

#include <cstdio>

#include "7zCrc.h"
#include "extract/entry_path.h"
#include "extract/safe_path.h"

namespace kv {

namespace {

constexpr int kOutputFailure = SZ_ERROR_FAIL;  // 11
constexpr unsigned kDefaultPermissions = 0777;
constexpr UInt32 kNoFolder = 0xFFFFFFFFu;    // an entry without bytes
constexpr uint32_t kUnixExtension = 0x8000;  // high 16 bits hold st_mode
constexpr UInt64 kMaxLinkTarget = 4095;
constexpr uint64_t kBytesStep = 1 << 20;  // progress in bytes wakes the placing thread

unsigned filePermissions(const ArchiveEntry& entry) {
  if (entry.hasAttributes && (entry.attributes & kUnixExtension) != 0) {
    return kDefaultPermissions & (entry.attributes >> 16);
  }
  return kDefaultPermissions;
}

std::string format(const char* pattern, const std::string& path, int error) {
  const int length = std::snprintf(nullptr, 0, pattern, path.c_str(), error);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  std::snprintf(&text[0], text.size() + 1, pattern, path.c_str(), error);
  return text;
}

}  // namespace

struct EntryWriter::Open {
  UInt32 index = 0;
  std::string name;
  std::string path;
  std::string stagedPath;
  output::OutputFile file;
  bool isLink = false;
  std::string linkTarget;  // the bytes of a link entry
  UInt64 left = 0;
  UInt32 crc = CRC_INIT_VAL;
};

EntryWriter::EntryWriter(const std::string& targetDir, const std::string& stagingDir,
                         const Archive& archive, const FolderFiles& folderFiles,
                         IProgress* progress, IByteProgress* bytes, std::atomic<UInt32>& stopIndex)
    : targetDir_(targetDir),
      stagingDir_(stagingDir),
      archive_(archive),
      db_(archive.database()),
      folderFiles_(folderFiles),
      folders_(folderFiles.folderCount()),
      progress_(progress),
      bytes_(bytes),
      stopIndex_(stopIndex),
      ready_(0, 0x7FFFFFFF) {}

EntryWriter::~EntryWriter() {
  // Files still open belong to folders that never ended: not complete.
  for (FolderState& state : folders_) dropEntry(&state.open);
}

void EntryWriter::fail(UInt32 index, int code, const std::string& message) {
  {
    Lock lock(mutex_);
    if (index >= failedIndex_) return;
    failedIndex_ = index;
    failedCode_ = code;
    failedMessage_ = message;
    if (index < stopIndex_.load()) stopIndex_.store(index);
  }
  ready_.post();
}

void EntryWriter::printFailure() const {
  if (!failedMessage_.empty()) std::fputs(failedMessage_.c_str(), stdout);
}

void EntryWriter::refuse(UInt32 index, const std::string& name) {
  fail(index, kOutputFailure, "Refusing unsafe archive entry '" + name + "'\n");
}

bool EntryWriter::openEntry(UInt32 index, std::unique_ptr<Open>* open) {
  const ArchiveEntry entry = archive_.entry(index);
  std::unique_ptr<Open> file(new Open);
  file->index = index;
  file->name = entry.name;
  file->isLink = entry.isSymbolicLink();
  file->path = targetDir_ + "/" + entry.name;
  file->stagedPath = stagingDir_ + "/" + std::to_string(index);
  file->left = SzArEx_GetFileSize(&db_, index);
  if (file->isLink) {
    if (file->left > kMaxLinkTarget) {
      refuse(index, entry.name);
      return false;
    }
  } else if (int error = file->file.open(file->stagedPath, file->path, filePermissions(entry))) {
    fail(index, kOutputFailure,
         format("Could not open output file '%s' error %d\n", file->path, error));
    return false;
  }
  *open = std::move(file);
  return true;
}

void EntryWriter::dropEntry(std::unique_ptr<Open>* open) {
  if (!*open) return;
  (*open)->file.close();
  (*open)->file.discard();
  open->reset();
}

bool EntryWriter::closeEntry(std::unique_ptr<Open>* open) {
  Open& file = **open;
  if (const int error = file.file.close()) {
    // The last buffered bytes are written here: a full disk shows now.
    fail(file.index, kOutputFailure,
         format("Could not close output file '%s' error %d\n", file.path, error));
    open->reset();
    return false;
  }
  if (SzBitWithVals_Check(&db_.CRCs, file.index) &&
      CRC_GET_DIGEST(file.crc) != db_.CRCs.Vals[file.index]) {
    fail(file.index, SZ_ERROR_CRC, "");
    open->reset();
    return false;
  }
  {
    Lock lock(mutex_);
    verified_[file.index] = std::move(*open);
  }
  ready_.post();
  return true;
}

bool EntryWriter::commitEntry(std::unique_ptr<Open>* open) {
  Open& file = **open;
  // Parents are made (and links on the way refused) only now, in archive
  // order, so that what the entries before this one made decides.
  if (!prepareEntryPath(targetDir_, file.name)) {
    refuse(file.index, file.name);
    open->reset();
    return false;
  }
  int error = 0;
  if (file.isLink) {
    // Checked at its turn, against what the entries before it made.
    std::vector<std::string> place;
    if (!resolveLinkTarget(file.name, file.linkTarget, &place) ||
        !reachableWithoutLinks(targetDir_, place)) {
      refuse(file.index, file.name);
      open->reset();
      return false;
    }
    error = output::placeSymbolicLink(file.stagedPath, file.linkTarget, file.path);
  } else {
    error = file.file.commit();
  }
  if (error != 0) {
    fail(file.index, kOutputFailure,
         format("Could not open output file '%s' error %d\n", file.path, error));
    open->reset();
    return false;
  }
  open->reset();
  ++written_;
  if (progress_) progress_->update(written_);
  return true;
}

std::unique_ptr<EntryWriter::Open> EntryWriter::takeVerified(UInt32 index) {
  Lock lock(mutex_);
  auto found = verified_.find(index);
  if (found == verified_.end()) return nullptr;
  std::unique_ptr<Open> file = std::move(found->second);
  verified_.erase(found);
  return file;
}

void EntryWriter::commitInOrder() {
  while (nextCommit_ < db_.NumFiles && nextCommit_ < stopIndex_.load()) {
    const UInt32 index = nextCommit_;
    if (SzArEx_IsDir(&db_, index)) {
      ++nextCommit_;
      continue;
    }
    std::unique_ptr<Open> file;
    if (db_.FileToFolder[index] == kNoFolder) {
      // A file without bytes is written when its turn comes.
      if (!openEntry(index, &file) || !closeEntry(&file)) break;
    }
    file = takeVerified(index);
    if (!file || !commitEntry(&file)) break;
    ++nextCommit_;
    bytesPlaced_ += SzArEx_GetFileSize(&db_, index);
    if (bytes_) bytes_->updateBytes(bytesPlaced_);
  }
  reportBytes();
}

// The bytes shown are those placed, and of the next file in line as far as
// written: never ahead of the file count by more than that one file, though
// writers on other threads may be further on.
void EntryWriter::reportBytes() {
  if (!bytes_) return;
  uint64_t shown = bytesPlaced_;
  if (nextCommit_ < db_.NumFiles && nextCommit_ < stopIndex_.load()) {
    shown += SzArEx_GetFileSize(&db_, nextCommit_);
  }
  const uint64_t written = bytesWritten_.load();
  bytes_->updateBytes(written < shown ? written : shown);
}

// Adds the bytes to the file's CRC and writes them (a link's are kept).
bool EntryWriter::writeBytes(Open& file, const Byte* data, size_t size) {
  file.crc = CrcUpdate(file.crc, data, size);
  if (file.isLink) {
    file.linkTarget.append(reinterpret_cast<const char*>(data), size);
    return true;
  }
  while (size > 0) {
    int error = 0;
    const size_t written = file.file.write(data, size, &error);
    if (written == 0) {
      fail(file.index, kOutputFailure,
           format("Could not write output file '%s' error %d\n", file.path, error));
      return false;
    }
    data += written;
    size -= written;
  }
  return true;
}

// Opens the folder's next file; files without bytes are written at once.
bool EntryWriter::startNext(UInt32 folder, FolderState& state) {
  const FolderFiles::List files = folderFiles_.of(folder);
  while (!state.open) {
    if (state.next >= files.size()) return false;
    const UInt32 index = files[state.next];
    if (index >= stopIndex_.load()) {
      state.stopped = true;
      return false;
    }
    if (!openEntry(index, &state.open)) {
      state.stopped = true;
      return false;
    }
    ++state.next;
    if (state.open->left == 0 && !closeEntry(&state.open)) {
      state.stopped = true;
      return false;
    }
  }
  return true;
}

void EntryWriter::data(UInt32 folder, const Byte* data, size_t size) {
  FolderState& state = folders_[folder];
  while (size > 0 && !state.stopped) {
    if (!startNext(folder, state)) return;
    Open& file = *state.open;
    if (file.index >= stopIndex_.load()) {
      dropEntry(&state.open);
      state.stopped = true;
      return;
    }
    size_t piece = size;
    if (piece > file.left) piece = static_cast<size_t>(file.left);
    if (!writeBytes(file, data, piece)) {
      dropEntry(&state.open);
      state.stopped = true;
      return;
    }
    data += piece;
    size -= piece;
    file.left -= piece;
    // The placing thread shows the bytes when it wakes: at least every step.
    const uint64_t before = bytesWritten_.fetch_add(piece);
    if (before / kBytesStep != (before + piece) / kBytesStep) ready_.post();
    if (file.left == 0 && !closeEntry(&state.open)) {
      state.stopped = true;
      return;
    }
  }
}

void EntryWriter::folderEnd(UInt32 folder, SRes result) {
  FolderState& state = folders_[folder];
  const FolderFiles::List files = folderFiles_.of(folder);
  if (result == SZ_OK && !state.stopped) {
    // Trailing files without bytes.
    startNext(folder, state);
    if (state.open) {
      // The folder ended before this file did.
      const UInt32 index = state.open->index;
      dropEntry(&state.open);
      fail(index, SZ_ERROR_DATA, "");
    }
    return;
  }
  if (result == SZ_OK || result == kCancelled) {
    dropEntry(&state.open);
    state.stopped = true;
    return;
  }
  // A decoding failure belongs to the file being written, else to the
  // next one, else to the folder's last.
  UInt32 index = files.empty() ? 0 : files.back();
  if (state.open) {
    index = state.open->index;
  } else if (state.next < files.size()) {
    index = files[state.next];
  }
  dropEntry(&state.open);
  state.stopped = true;
  fail(index, result, "");
}

void EntryWriter::writerEnd() {
  {
    Lock lock(mutex_);
    ++writersEnded_;
  }
  ready_.post();
}

void EntryWriter::placeWhileWriting(unsigned writers) {
  for (;;) {
    commitInOrder();
    {
      Lock lock(mutex_);
      if (writersEnded_ >= writers) return;
    }
    ready_.wait();
  }
}

void EntryWriter::finishCommits() {
  commitInOrder();
  // Files after a failed one are not put in place.
  Lock lock(mutex_);
  verified_.clear();
}

}  // namespace kv
