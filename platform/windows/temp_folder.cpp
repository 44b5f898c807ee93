// The temporary install folder of -validate and -download runs: created at
// once under the user's temporary folder with a name no other run can hold,
// and deleted with everything in it by the shell afterwards.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "core/platform.h"
#include "platform/windows/wide_text.h"

namespace kv {

namespace {

constexpr int kMaxAttempts = 100;
// A child that has just ended may hold its working folder (the temporary
// folder) open for a moment longer; the delete is then tried again.
constexpr int kDeleteAttempts = 10;
constexpr DWORD kDeleteRetryDelay = 100;  // milliseconds

}  // namespace

bool makeTempFolderName(std::string& folder) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length == 0 || length >= buffer.size()) return false;
  const std::wstring base(buffer.data(), length);  // ends in a backslash
  const long long seconds = static_cast<long long>(std::time(nullptr));
  const unsigned long process = GetCurrentProcessId();
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    char name[80];
    std::snprintf(name, sizeof name, "tempfolder%lld_%lu_%d", seconds, process, attempt);
    const std::wstring path = base + L"\\" + widen(name);
    if (path.size() >= MAX_PATH) return false;
    // Created here, exclusively: a folder that exists already is another
    // run's (or planted) and is never taken over.
    if (CreateDirectoryW(path.c_str(), nullptr)) {
      folder = narrow(path);
      return true;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool deleteFolderTree(const std::string& path) {
  if (path.empty()) return false;
  // The shell takes a list of names, each ended by a NUL, ended by a NUL.
  const std::wstring wide = widen(path);
  std::vector<wchar_t> from(wide.begin(), wide.end());
  from.push_back(L'\0');
  from.push_back(L'\0');
  SHFILEOPSTRUCTW operation = {};
  operation.wFunc = FO_DELETE;
  operation.pFrom = from.data();
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
  int result = SHFileOperationW(&operation);
  for (int attempt = 1; attempt < kDeleteAttempts && result != 0; ++attempt) {
    if (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) return true;  // gone after all
    Sleep(kDeleteRetryDelay);
    operation.fAnyOperationsAborted = FALSE;
    result = SHFileOperationW(&operation);
  }
  return result == 0;
}

}  // namespace kv

namespace kv {

namespace {

void (*volatile interruptCleanup)() = nullptr;

// Runs on a thread the system starts for the console event. The cleanup
// runs once; FALSE then lets the default handling end the process.
BOOL WINAPI onConsoleEvent(DWORD) {
  static volatile LONG ran = 0;
  if (InterlockedExchange(&ran, 1) == 0) {
    if (void (*cleanup)() = interruptCleanup) cleanup();
  }
  return FALSE;
}

}  // namespace

void setInterruptCleanup(void (*cleanup)()) {
  static bool installed = false;
  interruptCleanup = cleanup;
  if (cleanup && !installed) installed = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
}

}  // namespace kv
