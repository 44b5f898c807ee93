// The remembered install location: one REG_SZ value under
// HKEY_CURRENT_USER\SOFTWARE\Korvane, named by the product key ("defaultLoc"
// without one). Without a stored value the default is the product folder
// ("Korvane") at the root of drive C. Values are read and written as UTF-16
// (the system converts a value written through the ANSI functions).
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/platform.h"
#include "platform/windows/wide_text.h"

namespace kv {

namespace {

const wchar_t kKeyPath[] = L"SOFTWARE\\Korvane";
// A stored value has at most this many characters with its terminating NUL;
// a longer one is ignored in favour of the built-in default.
constexpr DWORD kValueBufferSize = 1024;
constexpr size_t kMaxDefaultLength = MAX_PATH - 1;

std::wstring valueName(const std::string& productKey) {
  return productKey.empty() ? std::wstring(L"defaultLoc") : widen(productKey);
}

// Closes a registry key when it goes out of scope.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() { close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }
  LONG close() {
    LONG result = ERROR_SUCCESS;
    if (key_) result = RegCloseKey(key_);
    key_ = nullptr;
    return result;
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

std::string readDefaultLocation(const std::string& productKey, const std::string& productFolder) {
  RegistryKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, key.out()) == ERROR_SUCCESS) {
    std::vector<wchar_t> buffer(kValueBufferSize, L'\0');
    DWORD size = kValueBufferSize * sizeof(wchar_t);
    DWORD type = REG_NONE;
    // Only a text value is a location: a number or binary data read as
    // text would name some unrelated folder.
    if (RegQueryValueExW(key.get(), valueName(productKey).c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
      // The text up to its NUL, at most 1023 characters.
      const size_t limit = std::min<size_t>(size / sizeof(wchar_t), kValueBufferSize - 1);
      return narrow(buffer.data(), wcsnlen(buffer.data(), limit));
    }
  }
  std::string location = "C:\\" + (productFolder.empty() ? std::string("Korvane") : productFolder);
  if (location.size() > kMaxDefaultLength) location.resize(kMaxDefaultLength);
  return location;
}

void writeDefaultLocation(const std::string& productKey, const std::string& location) {
  RegistryKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, key.out(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  // The size counts the terminating NUL.
  const std::wstring text = widen(location);
  RegSetValueExW(key.get(), valueName(productKey).c_str(), 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

}  // namespace kv
