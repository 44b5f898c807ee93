// The held target and staging folders of the extraction on POSIX systems.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "extract/output_file.h"
#include "platform/linux/held_folders.h"
#include "platform/linux/interrupt_cleanup.h"

namespace kv {
namespace output {

namespace {

constexpr int kMaxDepth = 256;
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

int targetFd = -1;
std::string targetPath;
int stagingFd = -1;
// Set once a signal's cleanup removes the staging folder: the writing
// threads, which go on meanwhile, make no new file in it, so that the
// removal does not race a stream of new files.
std::atomic<bool> stagingClosed{false};
std::string stagingName;  // in the target folder
std::string stagingPath;

// Removes what is in the folder open as `fd`; links are removed, never
// followed.
void removeContents(int fd, int depth);

// Removes the entry `name` of the folder open as `parent`, and a folder's
// contents first.
void removeEntry(int parent, const char* name, int depth) {
  if (::unlinkat(parent, name, 0) == 0 || (errno != EISDIR && errno != EPERM)) return;
  if (depth >= kMaxDepth) return;
  UniqueFd folder(::openat(parent, name, kFolderFlags));
  if (folder.get() < 0) return;
  removeContents(folder.get(), depth + 1);
  ::unlinkat(parent, name, AT_REMOVEDIR);
}

void removeContents(int fd, int depth) {
  // A descriptor of its own, read from the start: a dup() would share the
  // position an earlier listing left at the end.
  DIR* dir = ::fdopendir(::openat(fd, ".", kFolderFlags));
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string child = entry->d_name;
    if (child != "." && child != "..") names.push_back(child);
  }
  ::closedir(dir);
  for (const std::string& child : names) removeEntry(fd, child.c_str(), depth);
}

bool startsWith(const std::string& path, const std::string& folder) {
  return !folder.empty() && path.size() > folder.size() &&
         path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
}

// A staging folder's unique part: six letters or digits.
std::string uniquePart(unsigned attempt) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  timespec now = {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  uint64_t state = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 30) ^
                   (static_cast<uint64_t>(::getpid()) << 40) ^ (attempt * 0x9E3779B97F4A7C15ull);
  std::string part;
  for (int i = 0; i < 6; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    part += kLetters[(state >> 33) % (sizeof kLetters - 1)];
  }
  return part;
}

// Whether the staging folder open as `fd`, named for process `owner`, is
// left by a run that is gone: nobody holds its lock, which is then taken
// here. Where the file system has no such locks, the owner's process is
// asked instead.
bool isStale(int fd, unsigned long owner) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  if (errno == EWOULDBLOCK || errno == EINTR) return false;
  return owner != static_cast<unsigned long>(::getpid()) &&
         ::kill(static_cast<pid_t>(owner), 0) != 0 && errno == ESRCH;
}

// Makes, opens and locks one new staging folder in the target folder. 0,
// EAGAIN when it was taken away meanwhile (by a run that found it
// unlocked), or an errno value.
int makeLockedFolder(const std::string& name, UniqueFd* folder) {
  if (::mkdirat(targetFd, name.c_str(), 0700) != 0) return errno == EEXIST ? EAGAIN : errno;
  folder->reset(::openat(targetFd, name.c_str(), kFolderFlags));
  if (folder->get() < 0) return errno == ENOENT || errno == ELOOP ? EAGAIN : errno;
  if (::flock(folder->get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return EAGAIN;
  struct stat st;
  if (::fstat(folder->get(), &st) != 0) return errno;
  return st.st_nlink == 0 ? EAGAIN : 0;
}

}  // namespace

Place placeOf(const std::string& path) {
  Place place;
  if (stagingFd >= 0 && startsWith(path, stagingPath)) {
    if (stagingClosed.load()) {
      place.error = ECANCELED;
      return place;
    }
    place.dir = stagingFd;
    place.name = path.substr(stagingPath.size() + 1);
    return place;
  }
  if (targetFd < 0 || !startsWith(path, targetPath)) {
    place.name = path;
    return place;
  }
  place.dir = targetFd;
  place.name = ".";
  if (path.size() >= PATH_MAX) {
    place.error = ENAMETOOLONG;  // as long as the system takes a whole path
    return place;
  }
  size_t begin = targetPath.size() + 1;
  while (begin <= path.size()) {
    size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    const std::string name = path.substr(begin, end - begin);
    begin = end + 1;
    if (name.empty() || name == ".") continue;
    if (place.name != ".") {
      // The name before this one is a folder on the way: opened, not followed.
      const int next = ::openat(place.dir, place.name.c_str(), kFolderFlags);
      if (next < 0) {
        place.error = errno;
        return place;
      }
      place.held.reset(next);
      place.dir = next;
    }
    place.name = name;
    if (name == "..") {
      place.error = EACCES;  // never climbs out
      return place;
    }
  }
  return place;
}

int holdFolders(const std::string& targetDir, std::string* path) {
  InterruptsHeldBack heldBack;
  releaseFolders();
  UniqueFd target(::open(targetDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (target.get() < 0) return errno;
  targetFd = target.get();
  const std::string base = kStagingPrefix + std::to_string(::getpid()) + "-";
  int error = EEXIST;
  UniqueFd folder;
  std::string name;
  for (unsigned attempt = 0; attempt < 100 && error != 0; ++attempt) {
    name = base + uniquePart(attempt);
    error = makeLockedFolder(name, &folder);
    if (error != 0 && error != EAGAIN) break;
  }
  if (error != 0) {
    targetFd = -1;
    return error;
  }
  targetFd = target.release();
  targetPath = targetDir;
  stagingFd = folder.release();
  stagingName = name;
  stagingPath = targetDir + "/" + name;
  *path = stagingPath;
  armInterruptCleanup();
  return 0;
}

bool releaseFolders() {
  InterruptsHeldBack heldBack;
  const bool had = stagingFd >= 0;
  if (had) {
    removeContents(stagingFd, 1);
    ::unlinkat(targetFd, stagingName.c_str(), AT_REMOVEDIR);
    ::close(stagingFd);  // lets the lock go
  }
  if (targetFd >= 0) ::close(targetFd);
  stagingFd = targetFd = -1;
  stagingName.clear();
  stagingPath.clear();
  targetPath.clear();
  return had;
}

bool removeStagingBeforeExit() {
  if (stagingFd < 0) return false;
  stagingClosed.store(true);
  // A file a writer made after the folder was listed (having passed
  // placeOf() before it was closed) keeps it: list again.
  for (int attempt = 0; attempt < 100; ++attempt) {
    removeContents(stagingFd, 1);
    if (::unlinkat(targetFd, stagingName.c_str(), AT_REMOVEDIR) == 0 || errno != ENOTEMPTY) break;
  }
  return true;
}

void removeStaleStagingFolders(const std::string& targetDir) {
  UniqueFd target(::open(targetDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (target.get() < 0) return;
  DIR* dir = ::fdopendir(::dup(target.get()));
  if (!dir) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(dir)) {
    if (stagingFolderOwner(entry->d_name) != 0) names.push_back(entry->d_name);
  }
  ::closedir(dir);
  for (const std::string& name : names) {
    // Only a real folder: a link or file of that name is not one of ours.
    UniqueFd folder(::openat(target.get(), name.c_str(), kFolderFlags));
    if (folder.get() < 0 || !isStale(folder.get(), stagingFolderOwner(name))) continue;
    removeContents(folder.get(), 1);
    ::unlinkat(target.get(), name.c_str(), AT_REMOVEDIR);
  }
}

int makeStagingFolder(const std::string& targetDir, std::string* path) {
  return holdFolders(targetDir, path);
}

void removeStagingFolder(const std::string& path) {
  if (!path.empty() && path == stagingPath) releaseFolders();
}

}  // namespace output
}  // namespace kv
