#include "platform/linux/child_process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace kv {

namespace {

const int kForwarded[3] = {SIGINT, SIGTERM, SIGHUP};

volatile sig_atomic_t forwardPid = 0;     // 0: no child yet
volatile sig_atomic_t pendingSignal = 0;  // came in before the child was known

void forwardSignal(int signal, siginfo_t* info, void*) {
  // Sent by the terminal to the whole group: the child has it already.
  if (info && info->si_code == SI_KERNEL) return;
  const int savedErrno = errno;
  if (forwardPid > 0) {
    kill(static_cast<pid_t>(forwardPid), signal);
  } else {
    pendingSignal = signal;
  }
  errno = savedErrno;
}

void forwardedSet(sigset_t& set) {
  sigemptyset(&set);
  for (int signal : kForwarded) sigaddset(&set, signal);
}

}  // namespace

int waitForChild(pid_t pid) {
  int status = 0;
  for (;;) {
    pid_t ended = waitpid(pid, &status, 0);
    if (ended == pid) break;
    if (ended < 0 && errno == EINTR) continue;
    return kChildNotAwaited;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return WTERMSIG(status);
  return kChildNotAwaited;
}

SignalForwarding::SignalForwarding() {
  forwardPid = 0;
  pendingSignal = 0;
  sigset_t set;
  forwardedSet(set);
  pthread_sigmask(SIG_BLOCK, &set, &previousMask_);
  struct sigaction action = {};
  action.sa_sigaction = forwardSignal;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigfillset(&action.sa_mask);
  for (int i = 0; i < 3; ++i) sigaction(kForwarded[i], &action, &previous_[i]);
}

SignalForwarding::~SignalForwarding() {
  sigset_t set;
  forwardedSet(set);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  for (int i = 0; i < 3; ++i) sigaction(kForwarded[i], &previous_[i], nullptr);
  forwardPid = 0;
  pendingSignal = 0;
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void SignalForwarding::forwardTo(pid_t child) {
  forwardPid = child;
  if (pendingSignal != 0) kill(child, pendingSignal);
  pendingSignal = 0;
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

void SignalForwarding::releaseInChild() {
  // The program started next gets the signals as exec() would leave the
  // launcher's: ignored ones stay ignored, any other takes its default
  // (a handler of the launcher must not run in the child before exec).
  for (int i = 0; i < 3; ++i) {
    struct sigaction action = {};
    action.sa_handler = previous_[i].sa_handler == SIG_IGN ? SIG_IGN : SIG_DFL;
    sigaction(kForwarded[i], &action, nullptr);
  }
  pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
}

}  // namespace kv
