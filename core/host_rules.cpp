#include "core/host_rules.h"

namespace kv {

const HostRules kLinuxHost = {
    "x86-linux2", "", '/', ":%#<>\"!?", 0, false, false, 4096, false, true,
};

const HostRules kWindowsHost = {
    "x86-win32", ".exe", '\\', "%#<>\"!?", 100, true, true, 260, true, false,
};

bool isAbsolutePath(const HostRules& rules, const std::string& path) {
  if (!rules.windowsPaths) return !path.empty() && path[0] == '/';
  if (path.empty()) return false;
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return true;
  return path.size() >= 2 && path[1] == ':';
}

bool isWholePath(const HostRules& rules, const std::string& path) {
  if (!rules.windowsPaths) return isAbsolutePath(rules, path);
  auto separator = [&](size_t i) { return path.size() > i && (path[i] == '\\' || path[i] == '/'); };
  if (separator(0) && separator(1)) return true;
  return path.size() >= 3 && path[1] == ':' && separator(2);
}

}  // namespace kv
