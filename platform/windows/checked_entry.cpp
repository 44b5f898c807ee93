#include "platform/windows/checked_entry.h"

#include <windows.h>

#include <vector>

#include "platform/windows/unique_handle.h"
#include "platform/windows/whole_path.h"
#include "platform/windows/wide_text.h"

namespace kv {

namespace {

// The path of the file an open handle reaches, without the "\\?\" prefix.
std::wstring finalPathOf(HANDLE file) {
  std::vector<wchar_t> final(MAX_PATH);
  DWORD length = GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()),
                                           FILE_NAME_NORMALIZED);
  if (length >= final.size()) {
    final.resize(length + 1);
    length = GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()),
                                       FILE_NAME_NORMALIZED);
  }
  if (length == 0 || length >= final.size()) return std::wstring();
  std::wstring path(final.data(), length);
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

}  // namespace

bool isPlainFileHere(const std::string& path) {
  const std::wstring wide = widen(path);
  // The entry itself, not what a link at it points to.
  UniqueHandle file(CreateFileW(
      wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file.get(), &info)) return false;
  if (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))
    return false;
  if (info.nNumberOfLinks != 1) return false;
  const std::wstring expected = wholeWidePath(wide);
  const std::wstring reached = finalPathOf(file.get());
  return !expected.empty() &&
         CompareStringOrdinal(expected.c_str(), -1, reached.c_str(), -1, TRUE) == CSTR_EQUAL;
}

}  // namespace kv
