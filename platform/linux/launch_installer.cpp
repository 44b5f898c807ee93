// Starting the extracted installer: "<install folder>/maintenance/kvInstaller/
// x86-linux2/kvInstaller", run in its own folder with the installer argument
// vector, either in place of the launcher or as a child that is waited for.
#include <unistd.h>

#include <cstdio>

#include "core/arg_list.h"
#include "core/install_layout.h"
#include "core/platform.h"
#include "core/text.h"
#include "core/text_store.h"
#include "platform/linux/child_process.h"
#include "platform/linux/logo_extractor.h"

namespace kv {

namespace {

int launchingFailed() {
  std::fputs("Launching failed\n", stdout);
  std::fflush(stdout);
  return 1;
}

// Changes to the program folder and replaces this process by the program.
// Returns only when that failed.
void startInPlace(const std::string& folder, const char* program, const char* const* argv) {
  if (chdir(folder.c_str()) != 0) return;
  execv(program, const_cast<char* const*>(argv));
}

}  // namespace

int launchInstaller(const std::string& installDir, GrowableArgList& args, bool /*consoleMode*/,
                    bool wait) {
  const HostRules& rules = hostRules();
  const std::string folder = installerFolder(installDir, rules);
  const std::string programPath = installerExecutablePath(installDir, rules);
  // A program path longer than the launcher's text limit is refused rather
  // than cut: a cut path would name another program.
  if (programPath.size() > kMaxTextLength) return launchingFailed();
  const char* program = keepText(programPath);
  if (args.count() == 0) {
    args.push(program);
  } else {
    args.set(0, program);
  }

  // The dialogs are over: the logo file goes now, before this process may
  // be replaced by the installer.
  removeLogoFile();
  // Nothing buffered may be lost with the launcher's image or written twice
  // by a child.
  std::fflush(stdout);
  std::fflush(stderr);
  if (!wait) {
    startInPlace(folder, program, args.items());
    return launchingFailed();
  }
  // Ctrl-C or SIGTERM while the installer runs is the installer's to
  // handle; the launcher waits on and then cleans up after it.
  SignalForwarding forwarding;
  pid_t child = fork();
  if (child < 0) return launchingFailed();
  if (child == 0) {
    forwarding.releaseInChild();
    startInPlace(folder, program, args.items());
    // A start that failed must not pass for an installer that succeeded.
    std::fputs("Launching failed\n", stdout);
    std::fflush(stdout);
    _exit(1);
  }
  forwarding.forwardTo(child);
  int result = waitForChild(child);
  return result == kChildNotAwaited ? 1 : result;
}

}  // namespace kv
