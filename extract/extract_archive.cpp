#include "extract/extract_archive.h"

#include <cstdio>

#include "extract/archive.h"
#include "extract/entry_decoder.h"
#include "extract/output_file.h"
#include "extract/safe_path.h"

namespace kv {

namespace {

constexpr int kOutputFailure = SZ_ERROR_FAIL;  // 11
constexpr unsigned kDefaultPermissions = 0777;
constexpr uint32_t kUnixExtension = 0x8000;  // high 16 bits hold st_mode

bool isSeparator(char c) { return c == '/' || (c == '\\' && output::backslashIsSeparator()); }

// Creates every directory on the way to `path`, then `path` itself; an
// existing directory (or any failure) is left to show up later.
void makeDirectoryChain(const std::string& path) {
  for (size_t i = 1; i < path.size(); ++i) {
    if (isSeparator(path[i]) && !isSeparator(path[i - 1])) output::makeDirectory(path.substr(0, i));
  }
  output::makeDirectory(path);
}

// Creates the parents of `name` below `targetDir`, refusing to pass through
// a symbolic link already there, and says whether the file itself may be
// written (it must not be a symbolic link either).
bool prepareEntryPath(const std::string& targetDir, const std::string& name) {
  std::string path = targetDir;
  size_t begin = 0;
  while (begin < name.size()) {
    size_t end = begin;
    while (end < name.size() && !isSeparator(name[end])) ++end;
    if (end > begin) {
      path += '/';
      path.append(name, begin, end - begin);
      const output::PathKind kind = output::pathKind(path);
      if (kind == output::PathKind::kSymbolicLink) return false;
      if (end < name.size() && kind == output::PathKind::kMissing) output::makeDirectory(path);
    }
    begin = end + 1;
  }
  return true;
}

unsigned filePermissions(const ArchiveEntry& entry) {
  if (entry.hasAttributes && (entry.attributes & kUnixExtension) != 0) {
    return kDefaultPermissions & (entry.attributes >> 16);
  }
  return kDefaultPermissions;
}

int writeEntry(const std::string& path, const ArchiveEntry& entry, const uint8_t* data,
               size_t size) {
  output::OutputFile file;
  if (int error = file.open(path, filePermissions(entry))) {
    std::printf("Could not open output file '%s' error %d\n", path.c_str(), error);
    return kOutputFailure;
  }
  while (size > 0) {
    int error = 0;
    const size_t written = file.write(data, size, &error);
    if (written == 0) {
      std::printf("Could not write output file '%s' error %d\n", path.c_str(), error);
      return kOutputFailure;
    }
    data += written;
    size -= written;
  }
  if (file.close() != 0) {
    std::printf("Could not close output file '%s'\n", path.c_str());
    return kOutputFailure;
  }
  return 0;
}

int refuse(const ArchiveEntry& entry) {
  std::printf("Refusing unsafe archive entry '%s'\n", entry.name.c_str());
  return kOutputFailure;
}

int extractEntries(const std::string& targetDir, IProgress* progress, const Archive& archive) {
  EntryDecoder decoder(archive);
  int written = 0;
  for (uint32_t i = 0; i < archive.entryCount(); ++i) {
    const ArchiveEntry entry = archive.entry(i);
    if (entry.isDirectory) continue;

    if (!isSafeEntryName(entry.name)) return refuse(entry);
    const uint8_t* data = nullptr;
    size_t size = 0;
    if (int result = decoder.decode(i, &data, &size)) return result;
    if (!prepareEntryPath(targetDir, entry.name)) return refuse(entry);

    // A symbolic link planted after the check is still not followed for
    // the file itself.
    const std::string path = targetDir + "/" + entry.name;
    if (int result = writeEntry(path, entry, data, size)) return result;
    ++written;
    if (progress) progress->update(written);
  }
  return 0;
}

}  // namespace

int extractArchive(const std::string& targetDir, IProgress* progress, BlockStream& stream) {
  Archive archive;
  if (int result = archive.open(stream.lookStream())) return result;

  int files = 0;
  for (uint32_t i = 0; i < archive.entryCount(); ++i) {
    if (!SzArEx_IsDir(&archive.database(), i)) ++files;
  }
  if (progress) progress->start(files);

  makeDirectoryChain(targetDir);
  const int result = extractEntries(targetDir, progress, archive);
  if (progress) progress->finish();
  return result;
}

}  // namespace kv
