// The extraction's file output on POSIX systems.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "extract/output_file.h"

namespace kv {
namespace output {

bool backslashIsSeparator() { return false; }

int makeDirectory(const std::string& path) {
  return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

PathKind pathKind(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return PathKind::kMissing;
  if (S_ISLNK(st.st_mode)) return PathKind::kSymbolicLink;
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return PathKind::kOther;
}

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  discard();
}

int OutputFile::open(const std::string& path, unsigned permissions) {
  if (file_) close();
  discard();
  struct stat existing;
  keepMode_ = false;
  if (::lstat(path.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) return EISDIR;
    if (S_ISLNK(existing.st_mode)) return ELOOP;
    if (::access(path.c_str(), W_OK) != 0) return errno;
    keepMode_ = true;
    mode_ = existing.st_mode & 07777;
  }
  const std::string part = path + ".kvpart";
  const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(part.c_str(), flags, static_cast<mode_t>(permissions));
  if (fd < 0 && errno == EEXIST && pathKind(part) == PathKind::kOther) {
    // Left by an interrupted run.
    ::unlink(part.c_str());
    fd = ::open(part.c_str(), flags, static_cast<mode_t>(permissions));
  }
  if (fd < 0) return errno;
  if (keepMode_) ::fchmod(fd, static_cast<mode_t>(mode_));
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    const int error = errno;
    ::close(fd);
    ::unlink(part.c_str());
    return error;
  }
  path_ = path;
  partPath_ = part;
  return 0;
}

int OutputFile::commit() {
  if (file_) close();
  if (partPath_.empty()) return ENOENT;
  if (::rename(partPath_.c_str(), path_.c_str()) != 0) {
    const int error = errno;
    discard();
    return error;
  }
  partPath_.clear();
  return 0;
}

void OutputFile::discard() {
  if (!partPath_.empty()) ::unlink(partPath_.c_str());
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
  const int result = std::fclose(file_);
  file_ = nullptr;
  return result == 0 ? 0 : (errno != 0 ? errno : EIO);
}

}  // namespace output
}  // namespace kv
