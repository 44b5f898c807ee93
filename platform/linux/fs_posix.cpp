// The core's file-system seam on POSIX systems.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "base/fs.h"

#include "base/errors.h"

namespace kv {

namespace {

// A file opened for reading that is not a regular file (a FIFO another
// user planted at the installed version file, a device) would block the
// run or feed it endless bytes: it is refused with ENXIO, without waiting
// for a writer.
FilePtr openRegularForReading(const std::string& path, const char* mode) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = ENXIO;
    return nullptr;
  }
  // O_NONBLOCK stays: it changes nothing for a regular file.
  std::FILE* file = ::fdopen(fd, mode);
  if (!file) ::close(fd);
  return FilePtr(file);
}

}  // namespace

FilePtr openFile(const std::string& path, const char* mode) {
  if (mode[0] == 'r' && !std::strchr(mode, '+')) return openRegularForReading(path, mode);
  // "e": close-on-exec, so that no started program inherits the stream.
  const std::string withCloseOnExec = std::string(mode) + "e";
  return FilePtr(std::fopen(path.c_str(), withCloseOnExec.c_str()));
}

namespace fs {

namespace {

// Opens the folder `name` below dirFd without following a link. -1 with
// errno when that is no folder (ENOTDIR, ELOOP for a link).
int openFolderAt(int dirFd, const char* name) {
  return ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

}  // namespace

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

bool canOpenForReading(const std::string& path) { return openFile(path, "r") != nullptr; }

bool entryExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

int makeFolders(const std::vector<std::string>& levels) {
  for (const std::string& level : levels) {
    if (canOpenDirectory(level) || ::mkdir(level.c_str(), 0777) == 0) continue;
    const int error = errno;
    struct stat st;
    if (error == EEXIST && ::lstat(level.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    return error;
  }
  return 0;
}

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
    // Never through a link at the name, and never held up by a pipe.
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
      ::close(fd);
      return 0;
    }
    if (errno != ENOENT) return errno;  // gone again: try once more to create it
  }
  return EAGAIN;
}

int removeFile(const std::string& path) { return errnoResult(::unlink(path.c_str())); }

int createLockFile(const std::string& path) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    // O_EXCL never follows a link at the name, dangling or not.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return 0;
    }
    if (errno != EEXIST) return errno;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) continue;  // gone again: create it
      return errno;
    }
    if (S_ISREG(st.st_mode)) return 0;  // left by an earlier run: the lock is there
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) return errno;
  }
  return EAGAIN;
}

void emptyFolderBelow(const std::string& base, const std::vector<std::string>& below) {
  int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  for (size_t i = 0; i < below.size(); ++i) {
    const char* name = below[i].c_str();
    int next = openFolderAt(fd, name);
    if (next < 0) {
      struct stat st;
      // The last name is a link: remove the link, never what it leads to.
      if (i + 1 == below.size() && ::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(st.st_mode)) {
        ::unlinkat(fd, name, 0);
      }
      ::close(fd);
      return;
    }
    ::close(fd);
    fd = next;
  }
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return;
  }
  // The listing starts again for every entry, so each pass deletes the first
  // entry that remains; unlinkat() removes a link itself, and fails on a
  // subfolder, which ends the emptying.
  for (;;) {
    ::rewinddir(dir);
    std::string name;
    while (struct dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] != '.') {
        name = entry->d_name;
        break;
      }
    }
    if (name.empty() || ::unlinkat(::dirfd(dir), name.c_str(), 0) != 0) break;
  }
  ::closedir(dir);
}

std::string currentDirectory() {
  std::vector<char> buffer(1024);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

int seek(std::FILE* file, int64_t offset, int origin) {
  return errnoResult(::fseeko(file, static_cast<off_t>(offset), origin));
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
  // A second or so of polling first: a short wait needs no word.
  int result = -1;
  for (int poll = 0; poll < kQuietWaitMilliseconds / 50; ++poll) {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
    if (result == 0 || (errno != EWOULDBLOCK && errno != EINTR)) break;
    ::usleep(50 * 1000);
  }
  if (result != 0 && (errno == EWOULDBLOCK || errno == EINTR)) {
    announceWait(directory);
    do {
      result = ::flock(fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
  }
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
