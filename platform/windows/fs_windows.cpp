// The core's file-system seam on Windows, over the C runtime (msvcrt) and
// the file attributes of the system. Paths are UTF-8 here and go to the
// system's wide (UTF-16) functions.
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/fs.h"

#include "base/errors.h"
#include "platform/windows/checked_entry.h"
#include "platform/windows/wide_text.h"

namespace kv {

FilePtr openFile(const std::string& path, const char* mode) {
  // Through _open with _O_NOINHERIT, so that the installer (started with
  // inheritable handles) never inherits the stream.
  int flags = _O_NOINHERIT;
  const bool plus = std::strchr(mode, '+') != nullptr;
  switch (mode[0]) {
    case 'r':
      flags |= plus ? _O_RDWR : _O_RDONLY;
      break;
    case 'w':
      flags |= (plus ? _O_RDWR : _O_WRONLY) | _O_CREAT | _O_TRUNC;
      break;
    case 'a':
      flags |= (plus ? _O_RDWR : _O_WRONLY) | _O_CREAT | _O_APPEND;
      break;
    default:
      errno = EINVAL;
      return nullptr;
  }
  flags |= std::strchr(mode, 'b') ? _O_BINARY : _O_TEXT;
  const int fd = _wopen(widen(path).c_str(), flags, _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* file = _fdopen(fd, mode);
  if (!file) _close(fd);
  return FilePtr(file);
}

namespace fs {

namespace {

bool isLinkAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Removes a link (symbolic link or junction) itself, never its target. A
// folder link goes with RemoveDirectory; where the system keeps it as a
// file (Wine's POSIX links), DeleteFile removes it.
bool removeLink(const std::string& path, DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && RemoveDirectoryW(widen(path).c_str())) return true;
  return DeleteFileW(widen(path).c_str()) != 0;
}

// The attributes of `path`, or INVALID_FILE_ATTRIBUTES. Unlike the runtime's
// _stat, this accepts folder names with a trailing separator.
DWORD attributesOf(const std::string& path) { return GetFileAttributesW(widen(path).c_str()); }

// The pattern that lists every entry of a folder.
std::string listPattern(const std::string& path) {
  if (!path.empty() && (path.back() == '\\' || path.back() == '/')) return path + "*";
  return path + "\\*";
}

// One open listing: the runtime's search handle and the entry it found first.
struct Listing {
  intptr_t handle = -1;
  _wfinddata_t entry;
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
  _wfinddata_t entry;
  const intptr_t handle = _wfindfirst(widen(listPattern(path)).c_str(), &entry);
  if (handle == -1) return false;
  _findclose(handle);
  return true;
}

bool canOpenForReading(const std::string& path) { return openFile(path, "r") != nullptr; }

bool entryExists(const std::string& path) {
  // GetFileAttributes reports a link itself, dangling or not.
  return attributesOf(path) != INVALID_FILE_ATTRIBUTES;
}

int makeFolders(const std::vector<std::string>& levels) {
  for (const std::string& level : levels) {
    if (canOpenDirectory(level) || _wmkdir(widen(level).c_str()) == 0) continue;
    const int error = errno;
    const DWORD attributes = attributesOf(level);
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (error == EEXIST && folder) continue;
    return error;
  }
  return 0;
}

int appendOrCreate(const std::string& path, bool& created) {
  created = false;
  for (int attempt = 0; attempt < 8; ++attempt) {
    int fd = _wopen(widen(path).c_str(), _O_WRONLY | _O_APPEND | _O_CREAT | _O_EXCL | _O_BINARY,
                    _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
      created = true;
      _close(fd);
      return 0;
    }
    if (errno != EEXIST) return errno;
    fd = _wopen(widen(path).c_str(), _O_WRONLY | _O_APPEND | _O_BINARY);
    if (fd >= 0) {
      _close(fd);
      return 0;
    }
    if (errno != ENOENT) return errno;
  }
  return EAGAIN;
}

int removeFile(const std::string& path) {
  // A file that is not plain (Wine shows a POSIX link to a file as one)
  // would take its target with it.
  const DWORD attributes = attributesOf(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && !isLinkAttributes(attributes) &&
      !(attributes & FILE_ATTRIBUTE_DIRECTORY) && !isPlainFileHere(path))
    return EACCES;
  return errnoResult(_wunlink(widen(path).c_str()));
}

int createLockFile(const std::string& path) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    // CREATE_NEW fails on any entry at the name, a link included.
    HANDLE file = CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return 0;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return EACCES;
    const DWORD attributes = attributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;  // gone again
    if (!isLinkAttributes(attributes) && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return isPlainFileHere(path) ? 0 : EACCES;  // never a lock that is a file elsewhere
    if (!isLinkAttributes(attributes)) return EISDIR;
    if (!removeLink(path, attributes)) return EACCES;
  }
  return EAGAIN;
}

void emptyFolderBelow(const std::string& base, const std::vector<std::string>& below) {
  std::string path = base;
  for (size_t i = 0; i < below.size(); ++i) {
    path += "\\" + below[i];
    const DWORD attributes = attributesOf(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (isLinkAttributes(attributes)) {
      if (i + 1 == below.size()) removeLink(path, attributes);
      return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
  }
  // Each pass deletes the first remaining entry; DeleteFile removes a file
  // link itself and fails on a folder or a junction, which ends the emptying.
  for (;;) {
    std::string name;
    {
      DirectoryReader dir(path);
      if (!dir.isOpen()) return;
      std::string entry;
      while (dir.next(entry)) {
        if (!entry.empty() && entry[0] != '.') {
          name = entry;
          break;
        }
      }
    }
    const std::string entry = path + "\\" + name;
    if (name.empty() || !isPlainFileHere(entry) || !DeleteFileW(widen(entry).c_str())) return;
  }
}

std::string currentDirectory() {
  std::vector<wchar_t> buffer(1024);
  while (_wgetcwd(buffer.data(), static_cast<int>(buffer.size())) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 16)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
  return narrow(std::wstring(buffer.data()));
}

int seek(std::FILE* file, int64_t offset, int origin) {
  return errnoResult(_fseeki64(file, offset, origin));
}

int64_t tell(std::FILE* file) { return _ftelli64(file); }

DirectoryReader::DirectoryReader(const std::string& path) {
  Listing* listing = new Listing;
  listing->handle = _wfindfirst(widen(listPattern(path)).c_str(), &listing->entry);
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
  if (!listing->entryPending && _wfindnext(listing->handle, &listing->entry) != 0) return false;
  listing->entryPending = false;
  name = narrow(std::wstring(listing->entry.name));
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
