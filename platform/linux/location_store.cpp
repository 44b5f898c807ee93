#include "platform/linux/location_store.h"

#include <fcntl.h>
#include <unistd.h>

#include "core/fs.h"
#include "core/platform.h"

namespace kv {

namespace {

const char kKeyedFile[] = ".kvInstaller.locations";
const char kUnkeyedFile[] = ".kvInstaller.loc";
const char kDefaultFolder[] = "Korvane";
const size_t kMaxPathLength = 4095;  // location-file paths fit 4096 bytes
const size_t kMaxLineLength = 1023;  // the unkeyed file's line fits 1024 bytes
const uint32_t kMapBuckets = 7;

// The first line of `file`, line end included, at most kMaxLineLength
// characters; false when not even one character could be read.
bool readFirstLine(std::FILE* file, std::string& line) {
  line.clear();
  int c;
  while (line.size() < kMaxLineLength && (c = std::fgetc(file)) != EOF) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !line.empty();
}

// Opens a location file for writing, truncated, without following a
// symbolic link at its name: the launcher may run as root with the home
// folder of someone else, who must not be able to point the file at
// another file of the system. Null when it cannot be opened.
FilePtr openForWriting(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FilePtr file(::fdopen(fd, "w"));
  if (!file) ::close(fd);
  return file;
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
  FilePtr file = path.empty() ? nullptr : openFile(path, "r");
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
    } else if (FilePtr file = openFile(path, "r")) {
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
  std::string path = locationFilePath(home, productKey);
  // Load the keyed file before truncating it, even when no read did so
  // earlier in this run (a location given on the command line), so that
  // the other products' entries are written back.
  if (!productKey.empty()) {
    loadMap(path);
    if (!map_) map_ = std::make_unique<PropertiesMap>(kMapBuckets, true);
  }
  if (path.empty()) return;
  FilePtr file = openForWriting(path);
  if (!file) return;
  if (!productKey.empty()) {
    map_->set(productKey, location);
    map_->save(file.get());
  } else {
    std::fputs(location.c_str(), file.get());
  }
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
