#include "platform/linux/location_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "base/fs.h"
#include "core/platform.h"
#include "core/text.h"
#include "platform/linux/interrupt_cleanup.h"

namespace kv {

namespace {

const char kKeyedFile[] = ".kvInstaller.locations";
const char kUnkeyedFile[] = ".kvInstaller.loc";
const char kDefaultFolder[] = "Korvane";
const size_t kMaxPathLength = 4095;  // location-file paths fit 4096 bytes
const uint32_t kMapBuckets = 7;
// A keyed file larger than this is no store of locations (one short line
// per product): it is neither loaded, which could exhaust the memory of a
// 32-bit launcher, nor replaced, which would lose what it holds.
const off_t kMaxKeyedFileSize = 1 << 20;

// The first line of `file`, line end included, at most kMaxTextLength
// characters; false when not even one character could be read.
bool readFirstLine(std::FILE* file, std::string& line) {
  line.clear();
  int c;
  while (line.size() < kMaxTextLength && (c = std::fgetc(file)) != EOF) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !line.empty();
}

// Opens a location file for reading only when it is a regular file: never
// through a link at its name (the launcher may run as root with the home
// folder of someone else, who must not be able to point the file at
// another file of the system), never a pipe that would hold the run up.
FilePtr openForReading(const std::string& path, off_t maxSize) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxSize) {
    ::close(fd);
    return nullptr;
  }
  FilePtr file(::fdopen(fd, "r"));
  if (!file) ::close(fd);
  return file;
}

// Serialises the rewrites of one location file between launchers: an
// exclusive flock() on the file itself. It never meets the extraction lock
// (an flock on the install folder, which may be the home folder itself,
// held by this launcher or another one) and adds no file of its own. The
// file is replaced by a rename, so a lock that turns out to hold a file
// replaced meanwhile is taken again on the new one. A missing file is made
// empty to be locked, and removed again when it is still empty at the end
// (nothing was stored). A holder that does not let go within a few seconds
// is not waited for longer: the rewrite is atomic either way.
class LocationFileLock {
 public:
  explicit LocationFileLock(const std::string& path) : path_(path) {
    for (int poll = 0; poll < 100; ++poll) {
      if (fd_ < 0 && !open()) return;
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
        if (isAtName()) return;
        closeFile();  // replaced meanwhile: lock the new file
        continue;
      }
      if (errno != EWOULDBLOCK && errno != EINTR) return;
      ::usleep(50 * 1000);
    }
  }
  ~LocationFileLock() {
    struct stat st;
    if (made_ && isAtName() && ::fstat(fd_, &st) == 0 && st.st_size == 0) ::unlink(path_.c_str());
    closeFile();  // releases the lock
  }
  LocationFileLock(const LocationFileLock&) = delete;
  LocationFileLock& operator=(const LocationFileLock&) = delete;

 private:
  // Opens the regular file at the name, never through a link, or makes it.
  bool open() {
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    for (int attempt = 0; attempt < 4 && fd_ < 0; ++attempt) {
      fd_ = ::open(path_.c_str(), flags);
      made_ = false;
      if (fd_ < 0 && errno == ENOENT) {
        fd_ = ::open(path_.c_str(), flags | O_CREAT | O_EXCL, 0666);
        made_ = fd_ >= 0;
      }
      if (fd_ < 0 && errno != ENOENT && errno != EEXIST) return false;
    }
    struct stat st;
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) return true;
    closeFile();
    return false;
  }
  bool isAtName() const {
    struct stat held, named;
    return fd_ >= 0 && ::fstat(fd_, &held) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
  }
  void closeFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    made_ = false;
  }

  std::string path_;
  int fd_ = -1;
  bool made_ = false;  // this lock made the (empty) file
};

bool writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Replaces the file at `path` by one holding `content`: written to a new
// file beside it, synced, then renamed over it, so that a reader sees the
// old or the new content and never a cut one. A link at the name is
// neither followed nor replaced. The mode and owner of the file it
// replaces are kept. False when nothing was replaced.
bool replaceFile(const std::string& path, const std::string& content) {
  struct stat old;
  const bool hadEntry = ::lstat(path.c_str(), &old) == 0;
  // A link at the name is left as it is: the location is not remembered.
  if (hadEntry && S_ISLNK(old.st_mode)) return false;
  const bool hadFile = hadEntry && S_ISREG(old.st_mode);
  // A signal now takes effect once the temporary file is renamed or
  // removed, never leaving it behind.
  InterruptsHeldBack heldBack;
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
    temporary = path + ".tmp" + std::to_string(::getpid()) + "." + std::to_string(attempt);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = true;
  if (hadFile) {
    // Owner first: fchown may clear the set-id bits that fchmod then sets.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && ::geteuid() == 0) ok = false;
    if (ok && ::fchmod(fd, old.st_mode & 07777) != 0) ok = false;
  }
  ok = ok && writeAll(fd, content) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (ok && ::rename(temporary.c_str(), path.c_str()) == 0) return true;
  ::unlink(temporary.c_str());
  return false;
}

std::string savedText(const PropertiesMap& map) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* stream = ::open_memstream(&buffer, &size);
  if (!stream) return std::string();
  map.save(stream);
  std::fclose(stream);
  std::string text(buffer ? buffer : "", size);
  std::free(buffer);
  return text;
}

}  // namespace

std::string locationFilePath(const std::string& home, const std::string& productKey) {
  if (home.empty()) return std::string();
  std::string path = home + "/" + (productKey.empty() ? kUnkeyedFile : kKeyedFile);
  // A longer name would have to be cut, naming some other file: refuse it.
  if (path.size() > kMaxPathLength) return std::string();
  return path;
}

LocationStore::LocationStore() = default;
LocationStore::~LocationStore() = default;

void LocationStore::loadMap(const std::string& path) {
  if (map_) return;
  FilePtr file = path.empty() ? nullptr : openForReading(path, kMaxKeyedFileSize);
  if (!file) return;
  map_ = std::make_unique<PropertiesMap>(kMapBuckets, true);
  map_->load(file.get());
}

std::string LocationStore::read(const std::string& home, const std::string& productKey,
                                const std::string& productFolder) {
  std::string path = locationFilePath(home, productKey);
  if (!path.empty()) {
    if (!productKey.empty()) {
      loadMap(path);
      if (map_) {
        if (const std::string* stored = map_->get(productKey)) return *stored;
      }
    } else if (FilePtr file = openForReading(path, std::numeric_limits<off_t>::max())) {
      std::string line;
      if (readFirstLine(file.get(), line)) return line;
    }
  }
  const std::string folder = productFolder.empty() ? kDefaultFolder : productFolder;
  // No home folder: the bare folder name, rejected later as not absolute.
  if (home.empty()) return folder;
  return home + "/" + folder;
}

void LocationStore::write(const std::string& home, const std::string& productKey,
                          const std::string& location) {
  const std::string path = locationFilePath(home, productKey);
  if (path.empty()) return;
  // A signal now takes effect once the file is stored or left as it was:
  // an empty file made for the lock never stays.
  InterruptsHeldBack heldBack;
  LocationFileLock lock(path);
  if (productKey.empty()) {
    replaceFile(path, location);
    return;
  }
  // The file as it is now, not as it was at start-up: another launcher may
  // have stored its own product's location since. Only this key changes.
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > kMaxKeyedFileSize) {
    return;
  }
  map_.reset();
  loadMap(path);
  if (!map_) map_ = std::make_unique<PropertiesMap>(kMapBuckets, true);
  map_->set(productKey, location);
  replaceFile(path, savedText(*map_));
}

namespace {

LocationStore& processStore() {
  static LocationStore* store = new LocationStore();  // lives until the process ends
  return *store;
}

}  // namespace

std::string readDefaultLocation(const std::string& productKey, const std::string& productFolder) {
  return processStore().read(homeDirectory(), productKey, productFolder);
}

void writeDefaultLocation(const std::string& productKey, const std::string& location) {
  processStore().write(homeDirectory(), productKey, location);
}

}  // namespace kv
