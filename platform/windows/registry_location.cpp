// The remembered install location: one REG_SZ value under
// HKEY_CURRENT_USER\SOFTWARE\Korvane, named by the product key ("defaultLoc"
// without one). Without a stored value the default is the product folder
// ("Korvane") at the root of drive C.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/platform.h"

namespace kv {

namespace {

const char kKeyPath[] = "SOFTWARE\\Korvane";
// A stored value needs at most this many bytes with its terminating NUL;
// a longer one is ignored in favour of the built-in default.
constexpr DWORD kValueBufferSize = 1024;
constexpr size_t kMaxDefaultLength = MAX_PATH - 1;

const char* valueName(const std::string& productKey) {
  return productKey.empty() ? "defaultLoc" : productKey.c_str();
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
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, KEY_READ, key.out()) == ERROR_SUCCESS) {
    std::vector<char> buffer(kValueBufferSize, '\0');
    DWORD size = kValueBufferSize;
    DWORD type = REG_NONE;
    // Only a text value is a location: a number or binary data read as
    // text would name some unrelated folder.
    if (RegQueryValueExA(key.get(), valueName(productKey), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()), &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
      // The text up to its NUL, at most 1023 characters.
      const size_t limit = std::min<size_t>(size, kValueBufferSize - 1);
      return std::string(buffer.data(), strnlen(buffer.data(), limit));
    }
  }
  std::string location = "C:\\" + (productFolder.empty() ? std::string("Korvane") : productFolder);
  if (location.size() > kMaxDefaultLength) location.resize(kMaxDefaultLength);
  return location;
}

void writeDefaultLocation(const std::string& productKey, const std::string& location) {
  RegistryKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                      nullptr, key.out(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  // The size counts the terminating NUL.
  RegSetValueExA(key.get(), valueName(productKey), 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(location.c_str()),
                 static_cast<DWORD>(location.size() + 1));
}

}  // namespace kv
