// The extraction lock of an install directory on Windows: a named mutex
// whose name is made from the full, case-folded path of the directory, so
// that two spellings of one folder ("C:\Kv", "c:/kv\") meet at the same
// lock and nothing is left in the folder. Held by the thread that made it
// (the main thread) and released when the object goes away or its process
// ends.
#include <windows.h>

#include <vector>

#include "base/fs.h"

namespace kv {
namespace fs {

namespace {

// The folded full path: "\" for "/", lower case, no trailing separator
// except after a drive ("c:\"). "" when the path cannot be made full.
std::string foldedFullPath(const std::string& directory) {
  std::string path = directory;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  std::vector<char> full(MAX_PATH);
  DWORD length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length >= full.size()) {
    full.resize(length + 1);
    length = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  }
  if (length == 0 || length >= full.size()) return std::string();
  CharLowerBuffA(full.data(), length);
  std::string folded(full.data(), length);
  while (folded.size() > 3 && folded.back() == '\\') folded.pop_back();
  return folded;
}

HANDLE createLockMutex(const std::string& folded) {
  // A mutex name may not hold "\" beyond its namespace prefix.
  std::string name = "kvInstaller.extract:" + folded;
  for (char& c : name) {
    if (c == '\\') c = '/';
  }
  // The session's namespace: elevated or not, every launcher of one
  // session finds the same mutex there (the global one needs a privilege).
  return CreateMutexA(nullptr, FALSE, ("Local\\" + name).c_str());
}

}  // namespace

DirectoryLock::DirectoryLock(const std::string& directory) {
  const std::string folded = foldedFullPath(directory);
  if (folded.empty()) return;
  HANDLE mutex = createLockMutex(folded);
  if (!mutex) return;
  DWORD waited = WaitForSingleObject(mutex, kQuietWaitMilliseconds);
  if (waited == WAIT_TIMEOUT) {
    announceWait(directory);
    waited = WaitForSingleObject(mutex, INFINITE);
  }
  // WAIT_ABANDONED: the holder ended without letting go; the lock is ours.
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    CloseHandle(mutex);
    return;
  }
  handle_ = reinterpret_cast<intptr_t>(mutex);
}

DirectoryLock::~DirectoryLock() {
  if (handle_ == kNoHandle) return;
  HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}

}  // namespace fs
}  // namespace kv
