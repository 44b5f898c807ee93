// Terminal check on POSIX systems.
#include <unistd.h>

#include "core/platform.h"

namespace kv {

bool standardOutputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

}  // namespace kv
