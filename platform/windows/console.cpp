// Console handling for the GUI-subsystem launcher: borrowing the starting
// process's console, and re-running a console-only command through the
// console twin "setupc.exe" in a console of its own.
#include "platform/windows/console.h"

#include <io.h>

#include <string>
#include <vector>

#include "core/platform.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_command_line.h"

namespace kv {

namespace {

bool attachPending = true;

}  // namespace

HANDLE usableStreamHandle(std::FILE* stream) {
  const int descriptor = _fileno(stream);
  if (descriptor < 0) return nullptr;
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return nullptr;
  return GetFileType(handle) == FILE_TYPE_UNKNOWN ? nullptr : handle;
}

bool attachConsole() {
  if (!attachPending) return true;
  attachPending = false;

  // Streams the caller already connected (redirected to a file or a pipe,
  // or the twin's own console) are kept: reopening them on the console
  // would lose the caller's redirection.
  const bool keepOutput = usableStreamHandle(stdout) != nullptr;
  const bool keepError = usableStreamHandle(stderr) != nullptr;
  const bool keepInput = usableStreamHandle(stdin) != nullptr;

  if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
    // Already attached to a console (the console twin has its own): fine.
    if (GetLastError() == ERROR_ACCESS_DENIED) return true;
    // No console to borrow; a run whose output is redirected still has
    // somewhere to write.
    return keepOutput;
  }
  if (!keepOutput) std::freopen("CONOUT$", "w", stdout);
  if (!keepError) std::freopen("CONOUT$", "w", stderr);
  if (!keepInput) std::freopen("CONIN$", "r", stdin);
  return true;
}

bool runConsoleTwin(int& exitCode) {
  const wchar_t* ownLine = GetCommandLineW();
  if (!ownLine) return false;
  std::optional<TwinCommandLine> parts =
      buildTwinCommandLine(narrow(std::wstring(ownLine)), "setupc.exe", true);
  if (!parts) return false;
  const std::wstring line = widen(joinTwinCommandLine(*parts));
  std::vector<wchar_t> commandLine(line.begin(), line.end());
  commandLine.push_back(L'\0');

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::fflush(stdout);
  std::fflush(stderr);
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                      nullptr, nullptr, &startup, &process)) {
    return false;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  exitCode = static_cast<int>(code);
  return true;
}

}  // namespace kv
