// A path made whole the way the system resolves it (GetFullPathNameW):
// against the current folder and drive, "/" turned into "\". Empty when the
// system cannot make it whole.
#pragma once

#include <string>

namespace kv {

std::wstring wholeWidePath(const std::wstring& path);

}  // namespace kv
