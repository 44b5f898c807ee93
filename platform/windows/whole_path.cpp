#include "platform/windows/whole_path.h"

#include <windows.h>

#include <vector>

namespace kv {

std::wstring wholeWidePath(const std::wstring& path) {
  std::vector<wchar_t> full(MAX_PATH);
  DWORD length =
      GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length >= full.size()) {
    full.resize(length + 1);
    length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
  }
  if (length == 0 || length >= full.size()) return std::wstring();
  return std::wstring(full.data(), length);
}

}  // namespace kv
