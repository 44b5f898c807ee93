// What a run leaves when SIGINT, SIGTERM or SIGHUP ends it early: nothing
// of its own. armInterruptCleanup() (called once the run has made something
// to remove: the logo file, a temporary install folder) installs handlers
// for the three signals, except one that was ignored when the launcher
// started (nohup). A signal then stops the main thread where it is (the
// only thread that writes files), wakes a thread of this module that
// removes the logo file and runs the core's cleanup (setInterruptCleanup,
// core/platform.h), and ends the process by the same signal, so that its
// parent sees how it ended. While an installer is waited for, the
// forwarding of child_process.h takes the signals over.
#pragma once

namespace kv {

void armInterruptCleanup();

}  // namespace kv
