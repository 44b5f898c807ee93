// The file-system seam of the core: the few directory and file operations it
// needs, declared once and defined per build (platform/posix/fs_posix.cpp,
// platform/windows/fs_windows.cpp). Paths are passed through unchanged.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace kv {

// Closes a stdio stream when it goes out of scope.
struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

inline FilePtr openFile(const std::string& path, const char* mode) {
  return FilePtr(std::fopen(path.c_str(), mode));
}

namespace fs {

bool exists(const std::string& path);         // any kind of entry (links followed)
bool isDirectory(const std::string& path);    // links followed
bool isRegularFile(const std::string& path);  // links followed
bool canOpenDirectory(const std::string& path);
bool canOpenForReading(const std::string& path);

// Creates one directory (0777 before the umask on POSIX). 0, or -1 with errno.
int makeDirectory(const std::string& path);
// Opens `path` for appending and closes it again, creating it when it is
// missing; `created` tells whether this call made it (exclusively, so a
// file another process made meanwhile never counts). 0, or an errno value.
int appendOrCreate(const std::string& path, bool& created);

// Deletes one file. 0, or -1 with errno.
int removeFile(const std::string& path);

// The current directory, or "" when it cannot be read.
std::string currentDirectory();

// Absolute seek and tell on a stdio stream with 64-bit offsets.
// origin is SEEK_SET, SEEK_CUR or SEEK_END. Returns 0 on success.
int seek(std::FILE* file, int64_t offset, int origin);
int64_t tell(std::FILE* file);

// Lists one directory. Entries come in the system's order, "." and ".."
// included. Closed when it goes out of scope.
class DirectoryReader {
 public:
  explicit DirectoryReader(const std::string& path);
  ~DirectoryReader();
  DirectoryReader(const DirectoryReader&) = delete;
  DirectoryReader& operator=(const DirectoryReader&) = delete;

  bool isOpen() const { return handle_ != nullptr; }
  // Next entry name into `name`; false when there are no more.
  bool next(std::string& name);
  void close();

 private:
  void* handle_ = nullptr;
};

// Serialises the extraction step between launchers that work on the same
// install directory at once (a double click, a script run twice): holds an
// exclusive advisory lock for its lifetime, and a second holder waits until
// the first lets go (or its process ends, killed or not). POSIX locks the
// directory itself with flock(), so no file is added to it; Windows locks
// the file ".kvInstaller.extractLock" in it with LockFileEx (created when
// missing and left in place). Where the system offers no such lock (a
// missing directory, some network file systems) isLocked() is false and the
// caller goes on unserialised. Not copyable; released when destroyed.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& directory);
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  bool isLocked() const { return handle_ != kNoHandle; }

 private:
  static constexpr intptr_t kNoHandle = -1;
  intptr_t handle_ = kNoHandle;  // a file descriptor or a HANDLE
};

}  // namespace fs
}  // namespace kv
