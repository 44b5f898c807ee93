// The extraction's file output on Windows: the C runtime's files and
// directories. Paths are UTF-8 here and go to the system's wide functions.
#include <direct.h>
#include <errno.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "extract/output_file.h"
#include "extract/staging_name.h"
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
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    ::SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::DeleteFileW(wide.c_str());
    return;
  }
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT) && depth < kMaxDepth) {
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

bool processIsGone(unsigned long pid) {
  if (pid == 0 || pid == ::GetCurrentProcessId()) return true;
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return ::GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool gone = ::GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
  ::CloseHandle(process);
  return gone;
}

}  // namespace

const char kStagingPrefix[] = ".kvstage-";

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
    if (folder && owner != 0 && processIsGone(owner)) {
      stale.push_back(name);
    }
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
  for (const std::string& name : stale) removeEntry(targetDir + "\\" + name, 0);
}

int makeStagingFolder(const std::string& targetDir, std::string* path) {
  const std::string base =
      targetDir + "/" + kStagingPrefix + std::to_string(::GetCurrentProcessId()) + "-";
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    const std::string name = base + std::to_string((::GetTickCount() + attempt * 7919u) % 1000000u);
    if (::_wmkdir(widen(name).c_str()) == 0) {
      *path = name;
      return 0;
    }
    if (errno != EEXIST) return errno;
  }
  return EEXIST;
}

void removeStagingFolder(const std::string& path) {
  if (!path.empty()) removeEntry(path, 0);
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
  if (!file_) return errno != 0 ? errno : EIO;
  path_ = path;
  stagedPath_ = stagedPath;
  return 0;
}

int OutputFile::commit() {
  if (file_) close();
  if (stagedPath_.empty()) return ENOENT;
  // A read-only file is replaced as any other: its folder's rights decide.
  const std::wstring path = widen(path_);
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  const bool readOnly =
      attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
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
  if (written == 0) *error = errno != 0 ? errno : EIO;
  return written;
}

int OutputFile::close() {
  if (!file_) return 0;
  errno = 0;
  const int result = std::fclose(file_);
  file_ = nullptr;
  return result == 0 ? 0 : (errno != 0 ? errno : EIO);
}

}  // namespace output
}  // namespace kv
