// Waiting for a child process started with fork().
#pragma once

#include <sys/types.h>

namespace kv {

// Waits for `pid` to end. Its exit code when it ended normally, the number
// of the signal that ended it otherwise, -1 when it cannot be waited for.
int waitForChild(pid_t pid);

}  // namespace kv
