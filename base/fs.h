// The file-system seam: the few directory and file operations the launcher
// needs, declared once and defined per build (platform/linux/fs_posix.cpp,
// platform/windows/fs_windows.cpp). Paths are passed through unchanged.
// Results follow base/errors.h: 0 or an errno value.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// Closes a stdio stream when it goes out of scope.
struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// fopen() whose stream is never handed on to a program the launcher starts
// (close-on-exec on POSIX, not inheritable on Windows). Modes "r", "w", "a",
// each with an optional "b" and "+".
FilePtr openFile(const std::string& path, const char* mode);

namespace fs {

bool exists(const std::string& path);         // any kind of entry (links followed)
bool isDirectory(const std::string& path);    // links followed
bool isRegularFile(const std::string& path);  // links followed
bool canOpenDirectory(const std::string& path);
bool canOpenForReading(const std::string& path);
// Whether there is an entry of any kind at `path`, a link (dangling or not)
// included; links are not followed.
bool entryExists(const std::string& path);

// Makes the folders `levels` (the prefixes of one path, outermost first,
// ending with the path itself) that cannot be opened as folders, one at a
// time (0777 before the umask on POSIX). A level that is a folder once its
// creation failed because something is at its name (another process made
// it at the same moment) counts as made; a link there does not. 0, or the
// errno value of the first level that cannot be made; nothing is undone.
int makeFolders(const std::vector<std::string>& levels);
// Opens `path` for appending and closes it again, creating it when it is
// missing; `created` tells whether this call made it (exclusively, so a
// file another process made meanwhile never counts). A link at `path` is
// never followed (POSIX: ELOOP) and a pipe never waited for. 0, or an
// errno value.
int appendOrCreate(const std::string& path, bool& created);

// Deletes one file. 0, or an errno value.
int removeFile(const std::string& path);

// Makes the lock file `path`, never through a link: a link (or any entry
// that is no regular file and can be removed as one) in its place is
// removed first, then the file is created exclusively; a regular file
// already there is the lock and stays. 0, or an errno value.
int createLockFile(const std::string& path);

// Empties the folder reached from `base` (followed like any path) through
// the folder names of `below`, none of which is followed when it is a link:
// deletes as files, one at a time, the entries whose names do not begin
// with "." and stops at the first one that cannot be deleted so (a
// subfolder). A link (POSIX symbolic link, Windows link or junction) in
// place of the last name is removed as a link; a link or a missing folder
// earlier on the way ends the call with nothing touched.
void emptyFolderBelow(const std::string& base, const std::vector<std::string>& below);

// The current directory, or "" when it cannot be read.
std::string currentDirectory();

// Absolute seek and tell on a stdio stream with 64-bit offsets.
// origin is SEEK_SET, SEEK_CUR or SEEK_END. seek(): 0, or an errno value;
// tell(): the position, or -1.
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
// exclusive lock for its lifetime, and a second holder waits until the
// first lets go (or its process ends, killed or not); after a second of
// waiting it says so once on standard error ("Waiting for another setup to
// finish in <directory>..."). POSIX locks the directory itself with
// flock(); Windows holds a named mutex whose name is made from the full,
// case-folded directory path. Neither adds a file to the directory. Where
// the system offers no such lock (a missing directory, some network file
// systems) nothing is held and the caller goes on unserialised. Not
// copyable; released when destroyed.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& directory);
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;

  // How long a wait goes unannounced.
  static constexpr int kQuietWaitMilliseconds = 1000;

 private:
  // The one line that says this launcher waits for another.
  static void announceWait(const std::string& directory) {
    std::fflush(stdout);
    std::fprintf(stderr, "Waiting for another setup to finish in %s...\n", directory.c_str());
    std::fflush(stderr);
  }

  static constexpr intptr_t kNoHandle = -1;
  intptr_t handle_ = kNoHandle;  // a file descriptor or a HANDLE
};

}  // namespace fs
}  // namespace kv
