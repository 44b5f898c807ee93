// The extraction's file output on Windows: the C runtime's files and
// directories. Paths are UTF-8 here and go to the system's wide functions.
#include <direct.h>
#include <errno.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/errors.h"
#include "extract/output_file.h"
#include "platform/windows/checked_entry.h"
#include "platform/windows/wide_text.h"

namespace kv {
namespace output {

namespace {

constexpr int kMaxDepth = 256;

// Removes `path` and, for a real folder, everything in it. A junction or
// symbolic link is removed itself, never entered.
void removeEntry(const std::string& path, int depth) {
  const std::wstring wide = widen(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  const bool link = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
  const bool folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
  // A file that only looks plain (a POSIX link under Wine, a hard link) is
  // left alone, so that nothing elsewhere is changed or goes.
  if (!link && !folder && !isPlainFileHere(path)) return;
  if (!link && (attributes & FILE_ATTRIBUTE_READONLY)) {
    ::SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (!folder) {
    ::DeleteFileW(wide.c_str());  // a link goes itself
    return;
  }
  if (!link && depth < kMaxDepth) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(widen(path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = narrow(std::wstring(found.cFileName));
        if (name != "." && name != "..") names.push_back(name);
      } while (::FindNextFileW(search, &found));
      ::FindClose(search);
    }
    for (const std::string& name : names) removeEntry(path + "\\" + name, depth + 1);
  }
  ::RemoveDirectoryW(wide.c_str());
}

// Opens the folder `path` itself (a reparse point is not followed) for
// `access`, sharing it as `share` allows.
HANDLE openFolder(const std::string& path, DWORD access, DWORD share) {
  return ::CreateFileW(widen(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Whether a run holds the staging folder `path`: its handle, kept open for
// the run's life, shares the folder with no one who would delete it.
bool isHeld(const std::string& path) {
  const HANDLE probe =
      openFolder(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (probe == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_SHARING_VIOLATION;
  ::CloseHandle(probe);
  return false;
}

// The staging folder of this run, held open while it is in use.
HANDLE stagingHandle = INVALID_HANDLE_VALUE;

// The target folder of the extraction under way, while its staging folder
// is in use.
std::string targetPath;

// Whether a folder on the way from the target to `path` (its last name
// aside) is a reparse point (a junction or link put there meanwhile) or no
// folder at all: the entry is then not put in place.
bool passesReparsePoint(const std::string& path) {
  if (targetPath.empty() || path.compare(0, targetPath.size(), targetPath) != 0) return false;
  for (size_t at = targetPath.size() + 1; at < path.size();) {
    const size_t end = path.find_first_of("/\\", at);
    if (end == std::string::npos) return false;
    if (end > at) {
      const DWORD attributes = ::GetFileAttributesW(widen(path.substr(0, end)).c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
          (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return true;
      }
    }
    at = end + 1;
  }
  return false;
}

}  // namespace

bool backslashIsSeparator() { return true; }

bool makesSymbolicLinks() { return false; }

int makeDirectory(const std::string& path) {
  return ::_wmkdir(widen(path).c_str()) == 0 ? 0 : errno;
}

PathKind pathKind(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(widen(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
  // Junctions and symbolic links alike are reparse points.
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return PathKind::kSymbolicLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::kDirectory;
  return PathKind::kOther;
}

void removeStaleStagingFolders(const std::string& targetDir) {
  std::vector<std::string> stale;
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(widen(targetDir + "\\" + kStagingPrefix + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::string name = narrow(std::wstring(found.cFileName));
    const bool folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                        !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    const unsigned long owner = stagingFolderOwner(name);
    if (folder && owner != 0) stale.push_back(name);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  for (const std::string& name : stale) {
    if (!isHeld(targetDir + "\\" + name)) removeEntry(targetDir + "\\" + name, 0);
  }
}

int makeStagingFolder(const std::string& targetDir, std::string* path) {
  const std::string base =
      targetDir + "/" + kStagingPrefix + std::to_string(::GetCurrentProcessId()) + "-";
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const std::string name = base + std::to_string((::GetTickCount() + attempt * 7919u) % 1000000u);
    if (::_wmkdir(widen(name).c_str()) != 0) {
      if (errno != EEXIST) return errno;
      continue;
    }
    // Held from now on; gone already when a run found it unheld meanwhile.
    stagingHandle = openFolder(name, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (stagingHandle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) continue;
      ::RemoveDirectoryW(widen(name).c_str());
      return EACCES;
    }
    *path = name;
    targetPath = targetDir;
    return 0;
  }
  return EEXIST;
}

void removeStagingFolder(const std::string& path) {
  if (stagingHandle != INVALID_HANDLE_VALUE) ::CloseHandle(stagingHandle);
  stagingHandle = INVALID_HANDLE_VALUE;
  if (!path.empty()) removeEntry(path, 0);
  targetPath.clear();
}

int placeSymbolicLink(const std::string&, const std::string&, const std::string&) { return ENOSYS; }

OutputFile::~OutputFile() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
  discard();
}

int OutputFile::open(const std::string& stagedPath, const std::string& path, unsigned) {
  if (file_) close();
  discard();
  const DWORD attributes = ::GetFileAttributesW(widen(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return EISDIR;
  errno = 0;
  file_ = ::_wfopen(widen(stagedPath).c_str(), L"wb");
  if (!file_) return lastError();
  path_ = path;
  stagedPath_ = stagedPath;
  return 0;
}

int OutputFile::commit() {
  if (file_) close();
  if (stagedPath_.empty()) return ENOENT;
  if (passesReparsePoint(path_)) {
    discard();
    return EACCES;
  }
  // A read-only file is replaced as any other: its folder's rights decide.
  const std::wstring path = widen(path_);
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  // Only a plain file's own attribute is changed, never a linked target's.
  const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES &&
                        (attributes & FILE_ATTRIBUTE_READONLY) && isPlainFileHere(path_);
  if (readOnly) ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!::MoveFileExW(widen(stagedPath_).c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    if (readOnly) ::SetFileAttributesW(path.c_str(), attributes);
    discard();
    return EACCES;
  }
  stagedPath_.clear();
  return 0;
}

void OutputFile::discard() {
  if (!stagedPath_.empty()) ::_wremove(widen(stagedPath_).c_str());
  stagedPath_.clear();
}

size_t OutputFile::write(const void* data, size_t size, int* error) {
  errno = 0;
  const size_t written = file_ ? std::fwrite(data, 1, size, file_) : 0;
  if (written == 0) *error = lastError();
  return written;
}

int OutputFile::close() {
  if (!file_) return 0;
  errno = 0;
  const int result = std::fclose(file_);
  file_ = nullptr;
  return errnoResult(result);
}

}  // namespace output
}  // namespace kv
