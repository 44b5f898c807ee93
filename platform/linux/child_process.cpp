#include "platform/linux/child_process.h"

#include <sys/wait.h>

#include <cerrno>

namespace kv {

int waitForChild(pid_t pid) {
  int status = 0;
  for (;;) {
    pid_t ended = waitpid(pid, &status, 0);
    if (ended == pid) break;
    if (ended < 0 && errno == EINTR) continue;
    return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return WTERMSIG(status);
  return -1;
}

}  // namespace kv
