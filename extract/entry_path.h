// Output paths of archive entries: the target directory and the parents of
// an entry, never passing through a symbolic link inside the target.
#pragma once

#include <string>
#include <vector>

namespace kv {

// Creates every directory on the way to `path`, then `path` itself
// (fs::makeFolders); a failure is left to show up later.
void makeDirectoryChain(const std::string& path);

// Creates the parents of `name` below `targetDir`, refusing to pass through
// a symbolic link already there, and says whether the entry may be put at
// its place. A link at the entry's own place (left by an earlier version,
// where the entry was a link) is replaced as a name, never followed, on
// hosts that make links; elsewhere it is refused.
bool prepareEntryPath(const std::string& targetDir, const std::string& name);

// Whether the place `path` (components below `targetDir`) is reached
// without passing through a symbolic link already there; the last
// component may be one.
bool reachableWithoutLinks(const std::string& targetDir, const std::vector<std::string>& path);

}  // namespace kv
