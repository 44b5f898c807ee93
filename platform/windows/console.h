// The launcher's standard streams in a console run: which of them already
// lead somewhere (a console, a file or a pipe the caller redirected them to).
#pragma once

#include <cstdio>

#include <windows.h>

namespace kv {

// The system handle under a C runtime stream when it is open on a file,
// pipe or console; null otherwise (a GUI program started without
// redirection has none).
HANDLE usableStreamHandle(std::FILE* stream);

}  // namespace kv
