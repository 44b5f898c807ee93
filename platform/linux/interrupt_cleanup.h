// What a run leaves when SIGINT, SIGTERM or SIGHUP ends it early: nothing
// of its own. armInterruptCleanup() (called once the run has made something
// to remove: the logo file, a staging folder, a temporary install folder)
// installs handlers for the three signals, except one that was ignored when
// the launcher started (nohup). A signal then stops the main thread where
// it is (the only thread that puts files in place, or makes anything
// outside the staging folder), wakes a thread of this module that removes
// the logo file and the staging folder of an extraction under way (the
// decoding threads that write into it then find it gone; the lock files
// stay: the next run repeats it, which a Ctrl-C then says on standard
// error), runs the core's cleanup (setInterruptCleanup, core/platform.h), and ends the process by
// the same signal, so that its parent sees how it ended. While an installer is waited for, the
// forwarding of child_process.h takes the signals over.
#pragma once

#include <signal.h>

namespace kv {

void armInterruptCleanup();

// Holds SIGINT, SIGTERM and SIGHUP back on the calling thread for its
// lifetime: one that comes meanwhile takes effect when it ends, once what
// is made in between is complete or registered for removal.
class InterruptsHeldBack {
 public:
  InterruptsHeldBack();
  ~InterruptsHeldBack();
  InterruptsHeldBack(const InterruptsHeldBack&) = delete;
  InterruptsHeldBack& operator=(const InterruptsHeldBack&) = delete;

 private:
  sigset_t previous_;
};

}  // namespace kv
