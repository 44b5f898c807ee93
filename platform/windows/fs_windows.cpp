// The core's file-system seam on Windows, over the C runtime (msvcrt) and
// the file attributes of the system. Narrow (ANSI) paths throughout.
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "core/fs.h"

namespace kv {
namespace fs {

namespace {

// The attributes of `path`, or INVALID_FILE_ATTRIBUTES. Unlike the runtime's
// _stat, this accepts folder names with a trailing separator.
DWORD attributesOf(const std::string& path) { return GetFileAttributesA(path.c_str()); }

// The pattern that lists every entry of a folder.
std::string listPattern(const std::string& path) {
  if (!path.empty() && (path.back() == '\\' || path.back() == '/')) return path + "*";
  return path + "\\*";
}

// One open listing: the runtime's search handle and the entry it found first.
struct Listing {
  intptr_t handle = -1;
  _finddata_t entry;
  bool entryPending = false;
};

}  // namespace

bool exists(const std::string& path) { return attributesOf(path) != INVALID_FILE_ATTRIBUTES; }

bool isDirectory(const std::string& path) {
  const DWORD attributes = attributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool isRegularFile(const std::string& path) {
  const DWORD attributes = attributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
}

bool canOpenDirectory(const std::string& path) {
  _finddata_t entry;
  const intptr_t handle = _findfirst(listPattern(path).c_str(), &entry);
  if (handle == -1) return false;
  _findclose(handle);
  return true;
}

bool canOpenForReading(const std::string& path) { return openFile(path, "r") != nullptr; }

int makeDirectory(const std::string& path) { return _mkdir(path.c_str()); }

int appendOrCreate(const std::string& path, bool& created) {
  created = false;
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = _open(path.c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_EXCL | _O_BINARY,
                   _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
      created = true;
      _close(fd);
      return 0;
    }
    if (errno != EEXIST) return errno;
    fd = _open(path.c_str(), _O_WRONLY | _O_APPEND | _O_BINARY);
    if (fd >= 0) {
      _close(fd);
      return 0;
    }
    if (errno != ENOENT) return errno;
  }
  return EAGAIN;
}

int removeFile(const std::string& path) { return _unlink(path.c_str()); }

std::string currentDirectory() {
  std::vector<char> buffer(1024);
  while (_getcwd(buffer.data(), static_cast<int>(buffer.size())) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 16)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return std::string(buffer.data());
}

int seek(std::FILE* file, int64_t offset, int origin) { return _fseeki64(file, offset, origin); }

int64_t tell(std::FILE* file) { return _ftelli64(file); }

DirectoryReader::DirectoryReader(const std::string& path) {
  Listing* listing = new Listing;
  listing->handle = _findfirst(listPattern(path).c_str(), &listing->entry);
  if (listing->handle == -1) {
    delete listing;
    return;
  }
  listing->entryPending = true;
  handle_ = listing;
}

DirectoryReader::~DirectoryReader() { close(); }

bool DirectoryReader::next(std::string& name) {
  Listing* listing = static_cast<Listing*>(handle_);
  if (!listing) return false;
  if (!listing->entryPending && _findnext(listing->handle, &listing->entry) != 0) return false;
  listing->entryPending = false;
  name = listing->entry.name;
  return true;
}

void DirectoryReader::close() {
  Listing* listing = static_cast<Listing*>(handle_);
  if (!listing) return;
  _findclose(listing->handle);
  delete listing;
  handle_ = nullptr;
}

}  // namespace fs
}  // namespace kv
