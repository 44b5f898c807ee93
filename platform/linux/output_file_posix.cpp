// The extraction's file output on POSIX systems.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "extract/output_file.h"
#include "extract/staging_name.h"

namespace kv {
namespace output {

namespace {

constexpr int kMaxDepth = 256;

// Removes the entry `name` of the directory open as `parent`, and a
// directory's contents first; a symbolic link is removed, never followed.
void removeEntry(int parent, const char* name, int depth) {
  if (::unlinkat(parent, name, 0) == 0 || (errno != EISDIR && errno != EPERM)) return;
  if (depth >= kMaxDepth) return;
  const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return;
  }
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string child = entry->d_name;
    if (child != "." && child != "..") names.push_back(child);
  }
  for (const std::string& child : names) removeEntry(::dirfd(dir), child.c_str(), depth + 1);
  ::closedir(dir);
  ::unlinkat(parent, name, AT_REMOVEDIR);
}

bool processIsGone(unsigned long pid) {
  if (pid == static_cast<unsigned long>(::getpid())) return true;
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// The staging folder this run made, held open: staged files are reached
// through it, so that nobody who can write to the target can redirect them
// by putting something else at the folder's name.
int stagingFd = -1;
std::string stagingPath;

// A staged path as (folder descriptor, name) for the *at calls.
struct Staged {
  int dir;
  std::string name;
};
Staged staged(const std::string& path) {
  const std::string prefix = stagingPath + "/";
  if (stagingFd >= 0 && path.compare(0, prefix.size(), prefix) == 0) {
    return {stagingFd, path.substr(prefix.size())};
  }
  return {AT_FDCWD, path};
}

int unlinkStaged(const std::string& path) {
  const Staged at = staged(path);
  return ::unlinkat(at.dir, at.name.c_str(), 0);
}

int renameStaged(const std::string& path, const std::string& to) {
  const Staged at = staged(path);
  return ::renameat(at.dir, at.name.c_str(), AT_FDCWD, to.c_str());
}

// Where a folder of the target is another file system's mount point the
// staged file cannot be renamed there: it is copied over instead (after
// its check, so only an interruption can leave it short; the lock files
// then make the next run repeat the extraction).
int copyAcross(const std::string& stagedPath, const std::string& path) {
  const Staged at = staged(stagedPath);
  const int from = ::openat(at.dir, at.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (from < 0) return errno;
  struct stat st;
  if (::fstat(from, &st) != 0 || (::unlink(path.c_str()) != 0 && errno != ENOENT)) {
    const int error = errno;
    ::close(from);
    return error;
  }
  const int to =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, st.st_mode & 0777);
  int error = to < 0 ? errno : 0;
  std::vector<char> buffer(1 << 16);
  while (error == 0) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got <= 0) {
      error = got < 0 ? errno : 0;
      break;
    }
    for (ssize_t done = 0; done < got && error == 0;) {
      const ssize_t put = ::write(to, buffer.data() + done, static_cast<size_t>(got - done));
      if (put <= 0) error = put < 0 ? errno : EIO;
      done += put > 0 ? put : 0;
    }
  }
  if (to >= 0) {
    ::fchmod(to, st.st_mode & 0777);
    if (::close(to) != 0 && error == 0) error = errno;
  }
  ::close(from);
  unlinkStaged(stagedPath);
  return error;
}

}  // namespace

const char kStagingPrefix[] = ".kvstage-";

bool backslashIsSeparator() { return false; }

bool makesSymbolicLinks() { return true; }

int makeDirectory(const std::string& path) { return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno; }

PathKind pathKind(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return PathKind::kMissing;
  if (S_ISLNK(st.st_mode)) return PathKind::kSymbolicLink;
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return PathKind::kOther;
}

void removeStaleStagingFolders(const std::string& targetDir) {
  const int fd = ::open(targetDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return;
  }
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir)) {
    const unsigned long owner = stagingFolderOwner(entry->d_name);
    if (owner != 0 && processIsGone(owner)) stale.push_back(entry->d_name);
  }
  for (const std::string& name : stale) {
    struct stat st;
    // Only a real folder: a link or file of that name is not one of ours.
    if (::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(st.st_mode)) {
      removeEntry(::dirfd(dir), name.c_str(), 0);
    }
  }
  ::closedir(dir);
}

int makeStagingFolder(const std::string& targetDir, std::string* path) {
  std::string name = targetDir + "/" + kStagingPrefix + std::to_string(::getpid()) + "-XXXXXX";
  if (!::mkdtemp(&name[0])) return errno;
  const int fd = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    ::rmdir(name.c_str());
    return error;
  }
  if (stagingFd >= 0) ::close(stagingFd);
  stagingFd = fd;
  stagingPath = name;
  *path = name;
  return 0;
}

void removeStagingFolder(const std::string& path) {
  if (path.empty()) return;
  if (path == stagingPath && stagingFd >= 0) {
    // Whatever is left in it first, through the folder that was made.
    DIR* dir = ::fdopendir(::dup(stagingFd));
    if (dir) {
      std::vector<std::string> names;
      while (const dirent* entry = ::readdir(dir)) {
        const std::string child = entry->d_name;
        if (child != "." && child != "..") names.push_back(child);
      }
      for (const std::string& child : names) removeEntry(::dirfd(dir), child.c_str(), 1);
      ::closedir(dir);
    }
    ::close(stagingFd);
    stagingFd = -1;
    stagingPath.clear();
  }
  ::rmdir(path.c_str());
}

int placeSymbolicLink(const std::string& stagedPath, const std::string& target,
                      const std::string& path) {
  const Staged at = staged(stagedPath);
  if (::symlinkat(target.c_str(), at.dir, at.name.c_str()) != 0) return errno;
  if (renameStaged(stagedPath, path) == 0) return 0;
  int error = errno;
  unlinkStaged(stagedPath);
  if (error == EXDEV) {
    // Another file system below the target: made in place instead.
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) {
      error = ::symlink(target.c_str(), path.c_str()) == 0 ? 0 : errno;
    } else {
      error = errno;
    }
  }
  return error;
}

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  discard();
}

int OutputFile::open(const std::string& stagedPath, const std::string& path, unsigned permissions) {
  if (file_) close();
  discard();
  struct stat existing;
  bool keepMode = false;
  if (::lstat(path.c_str(), &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) return EISDIR;
    keepMode = S_ISREG(existing.st_mode);
  }
  const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  const Staged at = staged(stagedPath);
  const int fd = ::openat(at.dir, at.name.c_str(), flags, static_cast<mode_t>(permissions));
  if (fd < 0) return errno;
  stagedPath_ = stagedPath;
  // Never a set-id bit taken over from a file someone else put there.
  if (keepMode) ::fchmod(fd, existing.st_mode & 0777);
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    const int error = errno;
    ::close(fd);
    discard();
    return error;
  }
  path_ = path;
  return 0;
}

int OutputFile::commit() {
  if (file_) close();
  if (stagedPath_.empty()) return ENOENT;
  if (renameStaged(stagedPath_, path_) != 0) {
    const int error = errno == EXDEV ? copyAcross(stagedPath_, path_) : errno;
    discard();
    return error;
  }
  stagedPath_.clear();
  return 0;
}

void OutputFile::discard() {
  if (!stagedPath_.empty()) unlinkStaged(stagedPath_);
  stagedPath_.clear();
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
