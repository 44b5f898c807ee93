#include "core/dir_path.h"

namespace kv {
namespace {

bool isSeparator(char c, const HostRules& rules) {
  return c == rules.separator || (rules.windowsPaths && c == '/');
}

}  // namespace

std::string directoryPart(const std::string& path, const HostRules& rules) {
  // A Windows drive prefix ("C:") stays with the directory.
  size_t prefix = 0;
  if (rules.windowsPaths && path.size() >= 2 && path[1] == ':') prefix = 2;

  size_t end = path.size();
  while (end > prefix && isSeparator(path[end - 1], rules)) --end;
  if (end == prefix) {
    // Only separators (or nothing) after the prefix: a root, or the current
    // directory.
    if (prefix) return path.substr(0, prefix);
    return end < path.size() ? path.substr(0, 1) : std::string(".");
  }
  // Drop the last part, then the separators before it.
  while (end > prefix && !isSeparator(path[end - 1], rules)) --end;
  if (end == prefix) return prefix ? path.substr(0, prefix) : std::string(".");
  while (end > prefix && isSeparator(path[end - 1], rules)) --end;
  if (end == prefix) return prefix ? path.substr(0, prefix) : path.substr(0, 1);  // a root
  return path.substr(0, end);
}

std::string absoluteDirectory(const std::string& dir, const HostRules& rules,
                              const std::string& currentDir) {
  if (isAbsolutePath(rules, dir) || currentDir.empty()) return dir;
  if (dir == ".") return currentDir;
  return childPath(currentDir, rules, dir);
}

std::string childPath(const std::string& dir, const HostRules& rules, const std::string& name) {
  if (!dir.empty() && isSeparator(dir.back(), rules)) return dir + name;
  return dir + rules.separator + name;
}

}  // namespace kv
