// Keeping planted DLLs out of an elevated launcher started from a downloads
// folder: the DLL search is restricted to the system folder at start-up, and
// the libraries the launcher loads itself are named by absolute path.
#pragma once

#include <windows.h>

namespace kv {

// Restricts the search for DLLs loaded from now on to the system folder
// (SetDefaultDllDirectories, where the system has it) and takes the current
// folder out of the search order. Called first thing in main().
void restrictDllSearchPath();

// Loads `name` (e.g. "comctl32.dll") from the system folder only. Null when
// it cannot be loaded. The library stays loaded until the process ends.
HMODULE loadSystemLibrary(const char* name);

// The entry point `name` of a library, as a function pointer of type Fn.
template <typename Fn>
Fn systemProcedure(HMODULE module, const char* name) {
  if (!module) return nullptr;
  FARPROC procedure = GetProcAddress(module, name);
  // Through the generic function pointer type, which any function pointer
  // may be converted to and from.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(procedure));
}

}  // namespace kv
