// Output paths of archive entries: the target directory and the parents of
// an entry, never passing through a symbolic link inside the target.
#pragma once

#include <string>

namespace kv {

// Creates every directory on the way to `path`, then `path` itself; an
// existing directory (or any failure) is left to show up later.
void makeDirectoryChain(const std::string& path);

// Creates the parents of `name` below `targetDir`, refusing to pass through
// a symbolic link already there, and says whether the file itself may be
// written (it must not be a symbolic link either).
bool prepareEntryPath(const std::string& targetDir, const std::string& name);

}  // namespace kv
