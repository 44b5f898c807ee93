// The file-output seam of the extraction, defined per build
// (output_file_posix.cpp, output_file_windows.cpp): everything host-specific
// the extraction does to the disk. Paths are passed through unchanged.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace kv {
namespace output {

// Whether "\" separates path components on this host, besides "/".
bool backslashIsSeparator();

// Creates one directory (0777 before the umask on POSIX). 0, or an errno value.
int makeDirectory(const std::string& path);

enum class PathKind { kMissing, kDirectory, kSymbolicLink, kOther };
// What is at `path`, without following a symbolic link there.
PathKind pathKind(const std::string& path);

// One output file. Its bytes go to "<path>.kvpart" beside it, and only
// commit() puts them in place, so a file that fails its check or is cut
// short never replaces what was there. Closed and, unless committed,
// removed when it goes out of scope.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Starts the file for `path`. Fails as opening `path` for writing would:
  // a directory or a file that may not be written there is an error.
  // POSIX: a new file gets `permissions` (before the umask), an existing
  // one keeps its own; no symbolic link is followed. 0, or an errno value.
  int open(const std::string& path, unsigned permissions);
  // After close(): moves the bytes into place. 0, or an errno value.
  int commit();
  // Removes the bytes written so far; what was at the path stays.
  void discard();
  // Writes what it can of `size` bytes; the count written (0 on failure,
  // the errno value then in *error).
  size_t write(const void* data, size_t size, int* error);
  // 0, or an errno value.
  int close();

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
  std::string partPath_;
  bool keepMode_ = false;
  unsigned mode_ = 0;
};

}  // namespace output
}  // namespace kv
