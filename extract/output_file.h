// The file-output seam of the extraction: everything host-specific the
// extraction does to the disk, declared here and defined per build
// (platform/linux/output_file_posix.cpp, platform/windows/output_file_windows.cpp).
// Paths are passed through unchanged. Results: 0 or an errno value.
//
// Files are written into a staging folder of the run's own inside the
// target directory (same file system, so a rename moves them in) under
// short names of the run's choosing, and only put in place after their
// check. Nothing there can collide with an archive entry or a user's file,
// and a file that fails never replaces what was at its place.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace kv {
namespace output {

// Whether "\" separates path components on this host, besides "/".
bool backslashIsSeparator();

// Whether symbolic-link entries can be made on this host.
bool makesSymbolicLinks();

// Creates one directory of an entry's way inside the target (0777 before the
// umask on POSIX), reached like a placement: on Linux relative to the held
// folders, never through a link. The target itself is made by
// fs::makeFolders(). 0, or an errno value.
int makeDirectory(const std::string& path);

enum class PathKind { kMissing, kDirectory, kSymbolicLink, kOther };
// What is at `path`, without following a symbolic link there.
PathKind pathKind(const std::string& path);

// Staging folders are named kStagingPrefix, the owner's process id, "-"
// and a unique part of up to six letters or digits. The run that made one
// holds it (POSIX: flock(); Windows: a handle that lets nobody delete it)
// for as long as it uses it; one that nobody holds was left by a killed
// run, whatever process has its id now. The names are the extraction's
// (extract/staging_name.cpp); each host makes and finds its folders by
// them.
inline constexpr char kStagingPrefix[] = ".kvstage-";
// The process id in a staging folder's name, or 0 when `name` is not
// shaped like one (a user's ".kvstage-backup" folder is not one).
unsigned long stagingFolderOwner(const std::string& name);

// Removes the stale staging folders directly inside `targetDir`, and
// everything in them, without following any symbolic link.
void removeStaleStagingFolders(const std::string& targetDir);
// Makes a new, private staging folder inside `targetDir`; its path in
// *path. 0, or an errno value.
int makeStagingFolder(const std::string& targetDir, std::string* path);
// Removes a staging folder this run made, with whatever is left in it.
void removeStagingFolder(const std::string& path);

// Makes a symbolic link to `target` at `stagedPath` and moves it to `path`
// (replacing a file or link there). 0, or an errno value.
int placeSymbolicLink(const std::string& stagedPath, const std::string& target,
                      const std::string& path);

// One output file, written at its staged path and moved to its place by
// commit(). Closed and, unless committed, removed when it goes out of scope.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Starts the file for `path` at `stagedPath`. A directory at `path` is an
  // error. POSIX: a new file gets `permissions` (before the umask), one
  // that replaces a file keeps that file's permissions; no symbolic link
  // is followed. 0, or an errno value.
  int open(const std::string& stagedPath, const std::string& path, unsigned permissions);
  // After close(): moves the bytes into place, replacing a file there
  // whatever its own permissions (the directory's decide; Windows clears
  // the read-only attribute first). 0, or an errno value.
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
  std::string stagedPath_;
};

}  // namespace output
}  // namespace kv
