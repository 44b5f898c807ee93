#include "platform/linux/interrupt_cleanup.h"

#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "core/platform.h"
#include "platform/linux/held_folders.h"
#include "platform/linux/logo_extractor.h"

namespace kv {

namespace {

const int kHandled[3] = {SIGINT, SIGTERM, SIGHUP};

sem_t wakeUp;
volatile sig_atomic_t caughtSignal = 0;
pthread_t mainThread;
std::atomic<void (*)()> coreCleanup{nullptr};

void handledSet(sigset_t& set) {
  sigemptyset(&set);
  for (int signal : kHandled) sigaddset(&set, signal);
}

// Runs on any thread that takes the signal; only async-signal-safe calls.
void onSignal(int signal) {
  if (!pthread_equal(pthread_self(), mainThread)) {
    pthread_kill(mainThread, signal);  // the main thread is the one to stop
    return;
  }
  if (caughtSignal == 0) {
    caughtSignal = signal;
    sem_post(&wakeUp);
  }
  // Park: no file is written any more while the cleanup runs, and the
  // process ends from the cleanup thread.
  sigset_t all;
  sigfillset(&all);
  for (;;) sigsuspend(&all);
}

void* cleanUpAfterSignal(void*) {
  std::string warmUp(64, ' ');  // this thread's allocator state, made now
  while (sem_wait(&wakeUp) != 0) {
  }
  const int signal = caughtSignal;
  removeLogoFile();
  // The staging folder goes; the lock files stay, so that the next run
  // repeats the extraction.
  const bool wasExtracting = output::removeStagingBeforeExit();
  if (void (*cleanup)() = coreCleanup.load()) cleanup();
  if (wasExtracting && signal == SIGINT) {
    static const char kInterrupted[] =
        "The extraction was interrupted; run the setup again to resume it.\n";
    ssize_t ignored = ::write(STDERR_FILENO, kInterrupted, sizeof kInterrupted - 1);
    (void)ignored;
  }
  // End by the same signal.
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  sigaction(signal, &fallback, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);
}

}  // namespace

void armInterruptCleanup() {
  static bool armed = false;
  if (armed) return;
  armed = true;
  mainThread = pthread_self();
  if (sem_init(&wakeUp, 0, 0) != 0) return;
  // The cleanup thread never takes the signals itself.
  sigset_t set, previous;
  handledSet(set);
  pthread_sigmask(SIG_BLOCK, &set, &previous);
  pthread_t thread;
  const bool started = pthread_create(&thread, nullptr, cleanUpAfterSignal, nullptr) == 0;
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (!started) return;
  pthread_detach(thread);
  for (int signal : kHandled) {
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    sigfillset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

InterruptsHeldBack::InterruptsHeldBack() {
  sigset_t set;
  handledSet(set);
  pthread_sigmask(SIG_BLOCK, &set, &previous_);
}

InterruptsHeldBack::~InterruptsHeldBack() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

void setInterruptCleanup(void (*cleanup)()) {
  coreCleanup.store(cleanup);
  if (cleanup) armInterruptCleanup();
}

}  // namespace kv
