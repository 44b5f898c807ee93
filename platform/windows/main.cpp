// Program entry of the Windows launchers. Built twice from the same sources:
// setup.exe (GUI subsystem) and setupc.exe, the console twin, which runs as
// if "-winconsole" had been given (KV_CONSOLE_TWIN=1). The arguments come
// as UTF-16 (wmain, linked with -municode) and go on as UTF-8, so that no
// character is lost to the ANSI code page.
#include <string>
#include <vector>

#include "base/launcher_mark.h"
#include "core/main_flow.h"
#include "core/platform.h"
#include "platform/windows/system_library.h"
#include "platform/windows/wide_text.h"

#ifndef KV_CONSOLE_TWIN
#define KV_CONSOLE_TWIN 0
#endif

#if KV_CONSOLE_TWIN
KV_LAUNCHER_MARK("Windows console launcher")
#else
KV_LAUNCHER_MARK("Windows launcher")
#endif

namespace kv {

bool isConsoleTwinProgram() { return KV_CONSOLE_TWIN != 0; }

}  // namespace kv

int wmain(int argc, wchar_t** wideArgv) {
  kv::restrictDllSearchPath();
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(kv::narrow(std::wstring(wideArgv[i])));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  return kv::runLauncher(argc, argv.data());
}
