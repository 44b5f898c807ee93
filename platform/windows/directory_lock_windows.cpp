// The extraction lock of an install directory on Windows: an exclusive
// LockFileEx lock on ".kvInstaller.extractLock" inside it (a directory handle
// cannot carry a byte-range lock). The file is created when missing and left
// in place; it holds no data.
#include <windows.h>

#include "core/fs.h"

namespace kv {
namespace fs {

DirectoryLock::DirectoryLock(const std::string& directory) {
  const std::string path = directory + "\\.kvInstaller.extractLock";
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  OVERLAPPED at = {};
  if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {  // waits
    CloseHandle(file);
    return;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
}

DirectoryLock::~DirectoryLock() {
  if (handle_ == kNoHandle) return;
  HANDLE file = reinterpret_cast<HANDLE>(handle_);
  OVERLAPPED at = {};
  UnlockFileEx(file, 0, 1, 0, &at);
  CloseHandle(file);  // also releases the lock
}

}  // namespace fs
}  // namespace kv
