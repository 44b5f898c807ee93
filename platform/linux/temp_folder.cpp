// Temporary install folders: made at once with a name no other process can
// take over, removed without ever following a symbolic link out of them.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/platform.h"

namespace kv {

namespace {

// Closes a directory listing when it goes out of scope.
struct DirCloser {
  void operator()(DIR* dir) const {
    if (dir) closedir(dir);
  }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// Empties the folder open as dirFd (which this takes over): entries are
// examined without following links, a link is removed as a link, and only
// real subfolders are entered. Stops at the first failure; false then.
bool emptyFolder(int dirFd) {
  DirPtr dir(fdopendir(dirFd));
  if (!dir) {
    close(dirFd);
    return false;
  }
  // The whole listing first: removing entries while reading the listing
  // may make it skip some.
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (!entry) {
      if (errno != 0) return false;
      break;
    }
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
  }
  const int fd = dirfd(dir.get());
  for (const std::string& name : names) {
    struct stat status;
    if (fstatat(fd, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (S_ISDIR(status.st_mode)) {
      int childFd = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (childFd < 0) return false;
      if (!emptyFolder(childFd)) return false;
      if (unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) return false;
    } else if (unlinkat(fd, name.c_str(), 0) != 0) {
      return false;
    }
  }
  return true;
}

// Whether TMPDIR names a folder the location check would take: absolute,
// and free of the characters it refuses (the space included, which only
// -allowspaceininstallpath allows there). An unset or empty TMPDIR is not.
bool usableTempBase(const std::string& base) {
  return !base.empty() && base[0] == '/' && base.find_first_of(" :%#<>\"!?") == std::string::npos;
}

std::string makeTempFolderIn(std::string base) {
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  if (base == "/") base.clear();
  std::vector<char> name(base.begin(), base.end());
  const char kPattern[] = "/kvtmpXXXXXX";
  name.insert(name.end(), kPattern, kPattern + sizeof kPattern);  // with its NUL
  if (!mkdtemp(name.data())) return std::string();                // created with mode 0700
  return std::string(name.data());
}

}  // namespace

bool makeTempFolderName(std::string& name) {
  // The user never typed this path: a TMPDIR that the location check would
  // refuse gives way to /tmp.
  const char* tmp = std::getenv("TMPDIR");
  name = makeTempFolderIn(tmp && usableTempBase(tmp) ? tmp : "/tmp");
  return !name.empty();
}

bool deleteFolderTree(const std::string& path) {
  // The folder itself must be a real folder, not a link to one elsewhere.
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  if (!emptyFolder(fd)) return false;
  return rmdir(path.c_str()) == 0;
}

}  // namespace kv
