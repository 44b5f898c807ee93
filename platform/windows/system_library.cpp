// DLL search restrictions and loading system libraries by absolute path.
#include "platform/windows/system_library.h"

#include "platform/windows/wide_text.h"

#include <string>
#include <vector>

namespace kv {

namespace {

// The system folder ("C:\Windows\system32"), or "" when it cannot be read.
std::wstring systemFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const UINT length = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length == 0) return std::wstring();
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

}  // namespace

void restrictDllSearchPath() {
  // Looked up at run time: the function is missing on systems without the
  // search-path update.
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto setDefaultDllDirectories =
      systemProcedure<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
  if (setDefaultDllDirectories) setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // Without it (and in addition to it), at least the current folder goes.
  SetDllDirectoryW(L"");
}

HMODULE loadSystemLibrary(const char* name) {
  const std::wstring folder = systemFolder();
  if (folder.empty()) return nullptr;
  return LoadLibraryW((folder + L"\\" + widen(name)).c_str());
}

}  // namespace kv
