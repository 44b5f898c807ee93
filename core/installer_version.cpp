#include "core/installer_version.h"

#include <climits>
#include <cstring>
#include <vector>

#include "base/fs.h"
#include "core/install_layout.h"
#include "core/text.h"

namespace kv {

namespace {

// Only the head of the installed version file is read.
const size_t kVersionFileLimit = 1024;

// A decimal integer as scanf's %d reads it: leading white space, an optional
// sign, at least one digit. Values beyond the int range are held at its ends.
bool scanInt(const std::string& text, size_t& pos, int& out) {
  size_t p = pos;
  while (p < text.size() && isBlank(text[p])) ++p;
  bool negative = false;
  if (p < text.size() && (text[p] == '+' || text[p] == '-')) negative = text[p++] == '-';
  size_t digits = p;
  long long value = 0;
  while (p < text.size() && text[p] >= '0' && text[p] <= '9') {
    if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (text[p] - '0');
    ++p;
  }
  if (p == digits) return false;
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  out = static_cast<int>(value);
  pos = p;
  return true;
}

bool scanDot(const std::string& text, size_t& pos) {
  if (pos >= text.size() || text[pos] != '.') return false;
  ++pos;
  return true;
}

}  // namespace

std::optional<std::string> getProperty(const std::string& text, const std::string& key) {
  size_t lineStart = 0;
  while (lineStart <= text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    if (lineEnd - lineStart > key.size() && text.compare(lineStart, key.size(), key) == 0 &&
        text[lineStart + key.size()] == '=') {
      size_t valueStart = lineStart + key.size() + 1;
      size_t valueEnd = lineEnd;
      if (lineEnd < text.size() && valueEnd > valueStart && text[valueEnd - 1] == '\r') --valueEnd;
      return text.substr(valueStart, valueEnd - valueStart);
    }
    if (lineEnd == text.size()) break;
    lineStart = lineEnd + 1;
  }
  return std::nullopt;
}

bool parseVersion(const std::string& text, InstallerVersion& version) {
  std::optional<std::string> value = getProperty(text, "version");
  if (!value) return false;
  version = InstallerVersion();
  // "%d.%d.%d.%s": each part is read only when all before it matched.
  const std::string& v = *value;
  size_t pos = 0;
  if (!scanInt(v, pos, version.major) || !scanDot(v, pos) || !scanInt(v, pos, version.minor) ||
      !scanDot(v, pos) || !scanInt(v, pos, version.micro) || !scanDot(v, pos)) {
    return true;
  }
  while (pos < v.size() && isBlank(v[pos])) ++pos;
  size_t end = pos;
  while (end < v.size() && !isBlank(v[end]) && v[end] != '\0') ++end;
  version.qualifier = v.substr(pos, end - pos);
  return true;
}

bool readInstalledVersion(const std::string& installDir, const HostRules& rules,
                          InstallerVersion& version) {
  FilePtr file = openFile(installedVersionFile(installDir, rules), "r");
  if (!file) return false;
  std::vector<char> buffer(kVersionFileLimit);
  size_t got = std::fread(buffer.data(), 1, buffer.size(), file.get());
  // The bytes are taken as a text: a NUL byte ends it.
  std::string text(buffer.data(), got);
  text.resize(std::strlen(text.c_str()));
  return parseVersion(text, version);
}

bool isNewer(const InstallerVersion& a, const InstallerVersion& b) {
  if (a.major != b.major) return a.major > b.major;
  if (a.minor != b.minor) return a.minor > b.minor;
  if (a.micro != b.micro) return a.micro > b.micro;
  return std::strcmp(a.qualifier.c_str(), b.qualifier.c_str()) > 0;
}

}  // namespace kv
