// DLL search restrictions and loading system libraries by absolute path.
#include "platform/windows/system_library.h"

#include <string>
#include <vector>

namespace kv {

namespace {

// The system folder ("C:\Windows\system32"), or "" when it cannot be read.
std::string systemFolder() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const UINT length = GetSystemDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length == 0) return std::string();
    if (length < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

}  // namespace

void restrictDllSearchPath() {
  // Looked up at run time: the function is missing on systems without the
  // search-path update.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto setDefaultDllDirectories =
      systemProcedure<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
  if (setDefaultDllDirectories) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Without it (and in addition to it), at least the current folder goes.
  SetDllDirectoryA("");
}

HMODULE loadSystemLibrary(const char* name) {
  const std::string folder = systemFolder();
  if (folder.empty()) return nullptr;
  const std::string path = folder + "\\" + name;
  return LoadLibraryA(path.c_str());
}

}  // namespace kv
