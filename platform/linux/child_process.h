// Waiting for a child process started with fork(), and passing the signals
// that would end this process on to the child while it runs.
#pragma once

#include <signal.h>
#include <sys/types.h>

namespace kv {

// waitForChild()'s result when the child cannot be waited for.
constexpr int kChildNotAwaited = -1;

// Waits for `pid` to end. Its exit code when it ended normally, the number
// of the signal that ended it otherwise, kChildNotAwaited when it cannot be
// waited for.
int waitForChild(pid_t pid);

// While an awaited child runs, SIGINT, SIGTERM and SIGHUP sent to this
// process go to the child instead of ending this process, so that the
// child decides how to end and this process can clean up after it. A signal
// the terminal sends to the whole process group reaches the child already
// and is not sent twice.
//
// Construct it before fork(); the child calls releaseInChild() before exec,
// the parent forwardTo(pid) after fork() (a signal that came in between is
// passed on then). The previous handling returns when the object goes away.
class SignalForwarding {
 public:
  SignalForwarding();
  ~SignalForwarding();
  SignalForwarding(const SignalForwarding&) = delete;
  SignalForwarding& operator=(const SignalForwarding&) = delete;

  void forwardTo(pid_t child);
  void releaseInChild();

 private:
  sigset_t previousMask_;
  struct sigaction previous_[3];
};

}  // namespace kv
