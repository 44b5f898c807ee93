// The extraction's file output on POSIX systems. Every path goes through
// placeOf() (held_folders.h): below the target folder nothing is looked up
// by its full path, and no link on the way is followed.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/errors.h"
#include "extract/output_file.h"
#include "platform/linux/held_folders.h"

namespace kv {
namespace output {

namespace {

int renameStaged(const std::string& stagedPath, const std::string& path) {
  const Place from = placeOf(stagedPath);
  const Place to = placeOf(path);
  if (to.error != 0) return to.error;
  return ::renameat(from.dir, from.name.c_str(), to.dir, to.name.c_str()) == 0 ? 0 : errno;
}

int unlinkStaged(const std::string& stagedPath) {
  const Place at = placeOf(stagedPath);
  return ::unlinkat(at.dir, at.name.c_str(), 0) == 0 ? 0 : errno;
}

int copyBytes(int from, int to) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = ::read(from, buffer.data(), buffer.size());
    if (got <= 0) return got < 0 ? errno : 0;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(to, buffer.data() + done, static_cast<size_t>(got - done));
      if (put <= 0) return put < 0 ? errno : EIO;
      done += put;
    }
  }
}

// Where a folder of the target is another file system's mount point the
// staged file cannot be renamed there: it is copied over instead (after
// its check, so only an interruption can leave it short; the lock files
// then make the next run repeat the extraction).
int copyAcross(const std::string& stagedPath, const std::string& path) {
  const Place staged = placeOf(stagedPath);
  const UniqueFd from(::openat(staged.dir, staged.name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (from.get() < 0) return errno;
  const Place to = placeOf(path);
  struct stat st;
  if (to.error != 0) return to.error;
  if (::fstat(from.get(), &st) != 0 ||
      (::unlinkat(to.dir, to.name.c_str(), 0) != 0 && errno != ENOENT)) {
    return errno;
  }
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  UniqueFd out(::openat(to.dir, to.name.c_str(), flags, st.st_mode & 0777));
  int error = out.get() < 0 ? errno : copyBytes(from.get(), out.get());
  if (out.get() >= 0) {
    ::fchmod(out.get(), st.st_mode & 0777);
    if (::close(out.release()) != 0 && error == 0) error = errno;
  }
  unlinkStaged(stagedPath);
  return error;
}

}  // namespace

bool backslashIsSeparator() { return false; }

bool makesSymbolicLinks() { return true; }

int makeDirectory(const std::string& path) {
  const Place at = placeOf(path);
  if (at.error != 0) return at.error;
  return ::mkdirat(at.dir, at.name.c_str(), 0777) == 0 ? 0 : errno;
}

PathKind pathKind(const std::string& path) {
  const Place at = placeOf(path);
  // A link met on the way is what the caller refuses.
  if (at.error != 0) return at.error == ELOOP ? PathKind::kSymbolicLink : PathKind::kOther;
  struct stat st;
  if (::fstatat(at.dir, at.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? PathKind::kMissing : PathKind::kOther;
  }
  if (S_ISLNK(st.st_mode)) return PathKind::kSymbolicLink;
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return PathKind::kOther;
}

int placeSymbolicLink(const std::string& stagedPath, const std::string& target,
                      const std::string& path) {
  const Place staged = placeOf(stagedPath);
  if (::symlinkat(target.c_str(), staged.dir, staged.name.c_str()) != 0) return errno;
  int error = renameStaged(stagedPath, path);
  if (error == 0) return 0;
  unlinkStaged(stagedPath);
  if (error == EXDEV) {
    // Another file system below the target: made in place instead.
    const Place at = placeOf(path);
    if (at.error != 0) return at.error;
    if (::unlinkat(at.dir, at.name.c_str(), 0) == 0 || errno == ENOENT) {
      error = ::symlinkat(target.c_str(), at.dir, at.name.c_str()) == 0 ? 0 : errno;
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
  const Place at = placeOf(path);
  if (at.error == 0 && ::fstatat(at.dir, at.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(existing.st_mode)) return EISDIR;
    keepMode = S_ISREG(existing.st_mode);
  }
  const int flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  const Place staged = placeOf(stagedPath);
  if (staged.error != 0) return staged.error;
  const int fd = ::openat(staged.dir, staged.name.c_str(), flags, static_cast<mode_t>(permissions));
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
  if (const int renamed = renameStaged(stagedPath_, path_)) {
    const int error = renamed == EXDEV ? copyAcross(stagedPath_, path_) : renamed;
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
  if (written == 0) *error = lastError();
  return written;
}

int OutputFile::close() {
  if (!file_) return 0;
  const int result = std::fclose(file_);
  file_ = nullptr;
  return errnoResult(result);
}

}  // namespace output
}  // namespace kv
