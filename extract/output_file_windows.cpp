// The extraction's file output on Windows: the C runtime's files and
// directories, narrow paths as the rest of the launcher uses them.
#include <direct.h>
#include <errno.h>
#include <windows.h>

#include "extract/output_file.h"

namespace kv {
namespace output {

bool backslashIsSeparator() { return true; }

int makeDirectory(const std::string& path) { return ::_mkdir(path.c_str()) == 0 ? 0 : errno; }

PathKind pathKind(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  // Junctions and symbolic links alike are reparse points.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::kSymbolicLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kDirectory;
  return PathKind::kOther;
}

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  discard();
}

int OutputFile::open(const std::string& path, unsigned) {
  if (file_) close();
  discard();
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
    if (attributes & FILE_ATTRIBUTE_READONLY) return EACCES;
  }
  const std::string part = path + ".kvpart";
  std::remove(part.c_str());  // left by an interrupted run
  errno = 0;
  file_ = std::fopen(part.c_str(), "wb");
  if (!file_) return errno != 0 ? errno : EIO;
  path_ = path;
  partPath_ = part;
  return 0;
}

int OutputFile::commit() {
  if (file_) close();
  if (partPath_.empty()) return ENOENT;
  if (!::MoveFileExA(partPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    discard();
    return EACCES;
  }
  partPath_.clear();
  return 0;
}

void OutputFile::discard() {
  if (!partPath_.empty()) std::remove(partPath_.c_str());
  partPath_.clear();
}

size_t OutputFile::write(const void* data, size_t size, int* error) {
  errno = 0;
  const size_t written = file_ ? std::fwrite(data, 1, size, file_) : 0;
  if (written == 0) *error = errno != 0 ? errno : EIO;
  return written;
}

int OutputFile::close() {
  if (!file_) return 0;
  errno = 0;
  const int result = std::fclose(file_);
  file_ = nullptr;
  return result == 0 ? 0 : (errno != 0 ? errno : EIO);
}

}  // namespace output
}  // namespace kv
