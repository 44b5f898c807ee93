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

// Removes a file (a partly written or damaged one). 0, or an errno value.
int removeFile(const std::string& path);

enum class PathKind { kMissing, kDirectory, kSymbolicLink, kOther };
// What is at `path`, without following a symbolic link there.
PathKind pathKind(const std::string& path);

// One output file, open for binary writing; closed (errors ignored) when it
// goes out of scope unless close() was called.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates or truncates `path`. POSIX: a new file gets `permissions`
  // (before the umask), an existing one keeps its own; a symbolic link at
  // `path` is never followed. 0, or an errno value.
  int open(const std::string& path, unsigned permissions);
  // Writes what it can of `size` bytes; the count written (0 on failure,
  // the errno value then in *error).
  size_t write(const void* data, size_t size, int* error);
  // 0, or an errno value.
  int close();

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace output
}  // namespace kv
