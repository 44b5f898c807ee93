#include "platform/windows/wide_text.h"

#include <windows.h>

namespace kv {

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], length);
  return wide;
}

std::string narrow(const wchar_t* text, size_t length) {
  if (!text || length == 0) return std::string();
  const int size = static_cast<int>(length);
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, size, &utf8[0], bytes, nullptr, nullptr);
  return utf8;
}

std::string narrow(const std::wstring& text) { return narrow(text.data(), text.size()); }

}  // namespace kv
