// Directory parts of paths, for the launcher directory and the folder of an
// .ini file: the directory part of a path without its trailing separator,
// made absolute against the current directory. On Windows hosts both "\"
// and "/" separate path parts.
#pragma once

#include <string>

#include "core/host_rules.h"

namespace kv {

// The usual dirname rule, then one trailing separator dropped: "/a/b" gives
// "/a", "b" and "" give ".", "/b" gives "/" (a root keeps its separator, so
// that a child path never loses its leading "/"), "C:\x" gives "C:".
std::string directoryPart(const std::string& path, const HostRules& rules);

// A relative directory made absolute: "." becomes currentDir, anything else
// currentDir + separator + dir. An absolute dir, or an unknown (empty)
// currentDir, leaves dir unchanged.
std::string absoluteDirectory(const std::string& dir, const HostRules& rules,
                              const std::string& currentDir);

// dir + separator + name, without doubling a separator that ends dir.
std::string childPath(const std::string& dir, const HostRules& rules, const std::string& name);

}  // namespace kv
