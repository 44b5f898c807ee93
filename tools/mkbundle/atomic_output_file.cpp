// Writes the output beside its final name and renames it into place.
#include "tools/mkbundle/atomic_output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace mkbundle {
namespace {

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string describeErrno() { return std::strerror(errno); }

}  // namespace

AtomicOutputFile::~AtomicOutputFile() {
  if (stream_) std::fclose(stream_);
  if (!temporaryPath_.empty() && !committed_) ::unlink(temporaryPath_.c_str());
}

std::string AtomicOutputFile::open(const std::string& path) {
  path_ = path;
  std::string pattern = path + ".tmp-XXXXXX";
  const int fd = ::mkstemp(&pattern[0]);
  if (fd < 0) return "cannot create '" + pattern + "': " + describeErrno();
  temporaryPath_ = pattern;
  stream_ = ::fdopen(fd, "wb");
  if (!stream_) {
    const std::string error = "cannot write '" + pattern + "': " + describeErrno();
    ::close(fd);
    return error;
  }
  return "";
}

std::string AtomicOutputFile::commit(mode_t mode) {
  const std::string failure = "cannot write '" + temporaryPath_ + "': ";
  if (std::fflush(stream_) != 0 || std::ferror(stream_)) return failure + describeErrno();
  const int fd = ::fileno(stream_);
  if (::fchmod(fd, mode) != 0) return failure + describeErrno();
  if (::fsync(fd) != 0) return failure + describeErrno();
  const int closed = std::fclose(stream_);
  stream_ = nullptr;
  if (closed != 0) return failure + describeErrno();
  if (::rename(temporaryPath_.c_str(), path_.c_str()) != 0)
    return "cannot rename '" + temporaryPath_ + "' to '" + path_ + "': " + describeErrno();
  committed_ = true;
  const int folder = ::open(folderOf(path_).c_str(), O_RDONLY | O_DIRECTORY);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return "";
}

}  // namespace mkbundle
