// The names of staging folders (output_file.h): only a name of exactly
// their shape is taken for one.
#include <cstring>

#include "extract/output_file.h"

namespace kv {
namespace output {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isAlphanumeric(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace

unsigned long stagingFolderOwner(const std::string& name) {
  constexpr unsigned long kLargestPid = 0x7FFFFFFFul;
  constexpr size_t kMaxUnique = 6;
  const size_t prefix = std::strlen(kStagingPrefix);
  if (name.compare(0, prefix, kStagingPrefix) != 0) return 0;
  size_t at = prefix;
  unsigned long pid = 0;
  for (; at < name.size() && isDigit(name[at]); ++at) {
    pid = pid * 10 + static_cast<unsigned long>(name[at] - '0');
    if (pid > kLargestPid) return 0;
  }
  if (at == prefix || at >= name.size() || name[at] != '-') return 0;
  const size_t unique = name.size() - at - 1;
  if (unique == 0 || unique > kMaxUnique) return 0;
  for (++at; at < name.size(); ++at) {
    if (!isAlphanumeric(name[at])) return 0;
  }
  return pid;
}

}  // namespace output
}  // namespace kv
