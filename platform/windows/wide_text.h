// UTF-8 inside the launcher, UTF-16 at the system's wide (W) functions:
// the two conversions between them. Bytes that are not UTF-8 become U+FFFD.
#pragma once

#include <string>

namespace kv {

std::wstring widen(const std::string& utf8);
std::string narrow(const wchar_t* text, size_t length);
std::string narrow(const std::wstring& text);

}  // namespace kv
