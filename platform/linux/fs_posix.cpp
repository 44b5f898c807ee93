// The core's file-system seam on POSIX systems.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "core/fs.h"

namespace kv {
namespace fs {

bool exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool canOpenDirectory(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return false;
  ::closedir(dir);
  return true;
}

bool canOpenForReading(const std::string& path) {
  return openFile(path, "r") != nullptr;
}

int makeDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0777); }

int appendOrCreate(const std::string& path, bool& created) {
  created = false;
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      created = true;
      ::close(fd);
      return 0;
    }
    if (errno != EEXIST) return errno;
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      return 0;
    }
    if (errno != ENOENT) return errno;  // gone again: try once more to create it
  }
  return EAGAIN;
}

int removeFile(const std::string& path) { return ::unlink(path.c_str()); }

std::string currentDirectory() {
  std::vector<char> buffer(1024);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

int seek(std::FILE* file, int64_t offset, int origin) {
  return ::fseeko(file, static_cast<off_t>(offset), origin);
}

int64_t tell(std::FILE* file) { return static_cast<int64_t>(::ftello(file)); }

DirectoryReader::DirectoryReader(const std::string& path) : handle_(::opendir(path.c_str())) {}

DirectoryReader::~DirectoryReader() { close(); }

bool DirectoryReader::next(std::string& name) {
  if (!handle_) return false;
  struct dirent* entry = ::readdir(static_cast<DIR*>(handle_));
  if (!entry) return false;
  name = entry->d_name;
  return true;
}

void DirectoryReader::close() {
  if (handle_) ::closedir(static_cast<DIR*>(handle_));
  handle_ = nullptr;
}

DirectoryLock::DirectoryLock(const std::string& directory) {
  // O_CLOEXEC: the installer started in place of the launcher must not
  // inherit the lock.
  int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  int result;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    ::close(fd);
    return;
  }
  handle_ = fd;
}

DirectoryLock::~DirectoryLock() {
  if (handle_ != kNoHandle) ::close(static_cast<int>(handle_));  // releases the lock
}

}  // namespace fs
}  // namespace kv
