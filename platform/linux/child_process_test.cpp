// Signal forwarding while an awaited child runs: SIGTERM sent to this
// process goes to the child, which decides how to end; this process lives
// on and gets the child's result. The tests send the signals to themselves.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/linux/child_process.h"

namespace kv {
namespace {

// Starts `script` under /bin/sh the way launchInstaller does; returns the
// child's pid. The child writes one byte to `ready` once its traps are set.
pid_t startShell(SignalForwarding& forwarding, const char* script, int readyFd) {
  pid_t child = fork();
  if (child == 0) {
    forwarding.releaseInChild();
    dup2(readyFd, 3);
    execl("/bin/sh", "sh", "-c", script, static_cast<char*>(nullptr));
    _exit(127);
  }
  return child;
}

TEST(SignalForwardingTest, TermGoesToTheChildWhoseResultComesBack) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  SignalForwarding forwarding;
  pid_t child = startShell(forwarding,
                           "trap 'exit 42' TERM; echo x >&3; "
                           "i=0; while [ $i -lt 200 ]; do sleep 0.05; i=$((i+1)); done; exit 3",
                           ready[1]);
  ASSERT_GT(child, 0);
  close(ready[1]);
  forwarding.forwardTo(child);
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);  // this process survives it
  EXPECT_EQ(waitForChild(child), 42);
}

TEST(SignalForwardingTest, SignalBeforeTheChildIsKnownIsPassedOnLater) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  SignalForwarding forwarding;
  ASSERT_EQ(kill(getpid(), SIGHUP), 0);  // held back until forwardTo
  pid_t child = startShell(forwarding, "exec sleep 10", ready[1]);
  ASSERT_GT(child, 0);
  close(ready[1]);
  close(ready[0]);
  forwarding.forwardTo(child);
  EXPECT_EQ(waitForChild(child), SIGHUP);
}

TEST(SignalForwardingTest, PreviousHandlingReturnsAfterwards) {
  struct sigaction before;
  sigaction(SIGTERM, nullptr, &before);
  { SignalForwarding forwarding; }
  struct sigaction after;
  sigaction(SIGTERM, nullptr, &after);
  EXPECT_EQ(before.sa_handler, after.sa_handler);
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  EXPECT_FALSE(sigismember(&mask, SIGTERM));
}

}  // namespace
}  // namespace kv
