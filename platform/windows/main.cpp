// Program entry of the Windows launchers. Built twice from the same sources:
// setup.exe (GUI subsystem) and setupc.exe, the console twin, which runs as
// if "-winconsole" had been given (KV_CONSOLE_TWIN=1).
#include "base/launcher_mark.h"
#include "core/main_flow.h"
#include "core/platform.h"
#include "platform/windows/system_library.h"

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

int main(int argc, char** argv) {
  kv::restrictDllSearchPath();
  return kv::runLauncher(argc, argv);
}
