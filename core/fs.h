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

}  // namespace fs
}  // namespace kv
