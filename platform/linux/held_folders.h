// The folders the extraction writes through on POSIX systems, held open
// while a staging folder is in use: the target folder, opened once by its
// path, and the run's staging folder inside it, locked with flock() for as
// long as the run uses it (a staging folder nobody holds locked is stale).
// Every path below the target is reached from the held target one name at
// a time (placeOf), never through a link, so that nobody who can write
// inside the target can lead a write out of it by swapping a folder for a
// link meanwhile.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace kv {
namespace output {

// A file descriptor, closed when it goes out of scope or is replaced.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) {
    reset(other.release());
    return *this;
  }

  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Where a path leads, for the *at calls: its folder (`dir`, held open in
// `held` when it is not the target or staging folder itself) and its last
// name. error is 0, or the errno value of the folder on the way that could
// not be opened (ELOOP: a link there).
struct Place {
  UniqueFd held;
  int dir = AT_FDCWD;
  std::string name;
  int error = 0;
};

// A path below the target folder, reached from it; a staged path, reached
// from the staging folder (ECANCELED once a signal's cleanup removes that
// folder: the threads still writing make no new file in it); any other
// path as it is.
Place placeOf(const std::string& path);

// Opens the target folder and makes the run's staging folder in it (locked;
// its path in *path). 0, or an errno value.
int holdFolders(const std::string& targetDir, std::string* path);
// Removes the staging folder and what is in it, and lets both folders go.
// Whether there was one.
bool releaseFolders();
// The same for a run that ends at once (a signal), while decoding threads
// may still be writing into the staging folder: both folders stay open
// until the process ends, so such a thread meets a removed folder, where
// nothing can be made, never a descriptor reused for something else or a
// path looked up anew. Whether there was one.
bool removeStagingBeforeExit();

}  // namespace output
}  // namespace kv
