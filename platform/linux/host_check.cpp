// The install media's host-check program, run when no GUI can be started:
// "<launcher folder>//installer/host_info/check_hosts hosts", on the
// launcher's terminal, waited for, its result ignored.
#include <unistd.h>

#include <cstdio>

#include "base/fs.h"
#include "core/platform.h"
#include "platform/linux/child_process.h"

namespace kv {

void hostCheck(const std::string& launcherDirectory) {
  // The name keeps its double slash, which the system accepts.
  const std::string program = launcherDirectory + "/" + "/installer/host_info/check_hosts";
  if (!openFile(program, "r")) return;
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    const char* argv[] = {program.c_str(), "hosts", nullptr};
    execv(program.c_str(), const_cast<char* const*>(argv));
    _exit(0);
  }
  waitForChild(child);
}

}  // namespace kv
