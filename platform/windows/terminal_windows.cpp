// Terminal check on Windows: a console, not a pipe or a file.
#include <io.h>
#include <stdio.h>

#include "core/platform.h"

namespace kv {

bool standardOutputIsTerminal() { return ::_isatty(::_fileno(stdout)) != 0; }

}  // namespace kv
