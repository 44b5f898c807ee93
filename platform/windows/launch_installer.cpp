// Starting the extracted installer:
// "<install folder>\maintenance\kvInstaller\x86-win32\kvInstaller[c]" with
// the installer argument vector quoted so that every argument arrives as the
// launcher holds it, in the install folder, waited for in console runs.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/arg_list.h"
#include "core/install_layout.h"
#include "core/platform.h"
#include "platform/windows/console.h"
#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/windows_command_line.h"

namespace kv {

namespace {

// The child's standard handles in a console run: the launcher's own where
// they lead somewhere (so output the caller redirected stays redirected),
// else the console's.
class ChildStdHandles {
 public:
  void open() {
    input_.reset(forChild(stdin, L"CONIN$", GENERIC_READ, FILE_SHARE_READ));
    output_.reset(forChild(stdout, L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE));
    error_.reset(forChild(stderr, L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE));
  }
  void fill(STARTUPINFOW& startup) const {
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = orNull(input_);
    startup.hStdOutput = orNull(output_);
    startup.hStdError = orNull(error_);
  }

 private:
  static HANDLE orNull(const UniqueHandle& handle) {
    return handle.valid() ? handle.get() : nullptr;
  }

  static HANDLE forChild(std::FILE* stream, const wchar_t* device, DWORD access, DWORD share) {
    if (HANDLE own = usableStreamHandle(stream)) {
      HANDLE duplicate = nullptr;
      if (DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &duplicate, 0, TRUE,
                          DUPLICATE_SAME_ACCESS)) {
        return duplicate;
      }
    }
    SECURITY_ATTRIBUTES inheritable = {};
    inheritable.nLength = sizeof inheritable;
    inheritable.bInheritHandle = TRUE;
    return CreateFileW(device, access, share, &inheritable, OPEN_EXISTING, 0, nullptr);
  }

  UniqueHandle input_;
  UniqueHandle output_;
  UniqueHandle error_;
};

}  // namespace

int launchInstaller(const std::string& installDir, GrowableArgList& args, bool consoleMode,
                    bool wait) {
  const std::string program = installerProgramPath(installDir, hostRules(), consoleMode);
  const std::wstring line = widen(buildInstallerCommandLine(program, args.count(), args.items()));
  std::vector<wchar_t> commandLine(line.begin(), line.end());
  commandLine.push_back(L'\0');

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  ChildStdHandles handles;
  if (consoleMode && attachConsole()) {
    handles.open();
    handles.fill(startup);
  }

  std::fflush(stdout);
  std::fflush(stderr);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      widen(installDir).c_str(), &startup, &process)) {
    std::fprintf(stderr, "CreateProcess failed (%d)\n", static_cast<int>(GetLastError()));
    std::fflush(stderr);
    return 1;
  }
  UniqueHandle processHandle(process.hProcess);
  UniqueHandle threadHandle(process.hThread);
  if (!consoleMode && !wait) return 0;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}

}  // namespace kv
