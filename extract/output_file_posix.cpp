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

int removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

PathKind pathKind(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return PathKind::kMissing;
  if (S_ISLNK(st.st_mode)) return PathKind::kSymbolicLink;
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return PathKind::kOther;
}

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
}

int OutputFile::open(const std::string& path, unsigned permissions) {
  if (file_) close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                        static_cast<mode_t>(permissions));
  if (fd < 0) return errno;
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    const int error = errno;
    ::close(fd);
    return error;
  }
  return 0;
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
