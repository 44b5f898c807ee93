// The extraction lock of an install directory on Windows: a named mutex
// whose name is made from the full, case-folded path of the directory, so
// that two spellings of one folder ("C:\Kv", "c:/kv\") meet at the same
// lock and nothing is left in the folder. Any launcher of the session may
// wait on it, elevated or not. Held by the thread that made it
// (the main thread) and released when the object goes away or its process
// ends.
#include <windows.h>

#include <sddl.h>

#include "base/fs.h"
#include "platform/windows/whole_path.h"
#include "platform/windows/wide_text.h"

namespace kv {
namespace fs {

namespace {

// The folded full path: "\" for "/", lower case, no trailing separator
// except after a drive ("c:\"). "" when the path cannot be made full.
std::wstring foldedFullPath(const std::string& directory) {
  std::wstring path = widen(directory);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  std::wstring folded = wholeWidePath(path);
  if (folded.empty()) return folded;
  CharLowerBuffW(&folded[0], static_cast<DWORD>(folded.size()));
  while (folded.size() > 3 && folded.back() == L'\\') folded.pop_back();
  return folded;
}

// Every launcher may wait on the mutex and release it once it holds it,
// whoever made it: an elevated launcher's mutex with the default security
// would refuse a launcher of the same user that is not elevated.
class OpenToEveryone {
 public:
  OpenToEveryone() {
    attributes_.nLength = sizeof attributes_;
    attributes_.bInheritHandle = FALSE;
    // SYNCHRONIZE | MUTEX_MODIFY_STATE (0x00100001) for World.
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(
            "D:(A;;0x00100001;;;WD)", SDDL_REVISION_1, &descriptor_, nullptr)) {
      attributes_.lpSecurityDescriptor = descriptor_;
    }
  }
  ~OpenToEveryone() {
    if (descriptor_) LocalFree(descriptor_);
  }
  OpenToEveryone(const OpenToEveryone&) = delete;
  OpenToEveryone& operator=(const OpenToEveryone&) = delete;
  SECURITY_ATTRIBUTES* get() { return &attributes_; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_ = {};
};

constexpr DWORD kLockAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;
constexpr DWORD kRetryMilliseconds = 50;

// The mutex's name, in the session's namespace: elevated or not, every
// launcher of one session finds the same mutex there (the global one needs
// a privilege). A name may not hold "\" beyond its namespace prefix.
std::wstring lockMutexName(const std::wstring& folded) {
  std::wstring name = L"kvInstaller.extract:" + folded;
  for (wchar_t& c : name) {
    if (c == L'\\') c = L'/';
  }
  return L"Local\\" + name;
}

}  // namespace

DirectoryLock::DirectoryLock(const std::string& directory) {
  const std::wstring folded = foldedFullPath(directory);
  if (folded.empty()) return;
  const std::wstring name = lockMutexName(folded);
  OpenToEveryone security;
  const DWORD quiet = static_cast<DWORD>(kQuietWaitMilliseconds);
  DWORD waited = 0;
  bool announced = false;
  // A mutex this launcher may not open in full (another launcher's, maybe
  // elevated) is held by another setup: it is opened for waiting only, and
  // one that cannot even be opened so is waited out until it goes.
  HANDLE mutex;
  while (!(mutex = CreateMutexW(security.get(), FALSE, name.c_str()))) {
    if (GetLastError() != ERROR_ACCESS_DENIED) return;
    if ((mutex = OpenMutexW(kLockAccess, FALSE, name.c_str()))) break;
    if (!announced && waited >= quiet) {
      announceWait(directory);
      announced = true;
    }
    Sleep(kRetryMilliseconds);
    waited += kRetryMilliseconds;
  }
  DWORD result = WaitForSingleObject(mutex, announced || waited >= quiet ? 0 : quiet - waited);
  if (result == WAIT_TIMEOUT) {
    if (!announced) announceWait(directory);
    result = WaitForSingleObject(mutex, INFINITE);
  }
  // WAIT_ABANDONED: the holder ended without letting go; the lock is ours.
  if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
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
