// Walks a folder that is to become an archive, before anything is
// compressed: every entry is looked at with lstat (links are never
// followed) and names come out sorted byte-wise. What cannot be archived
// fails the walk: a special file, a name with a line break or not in UTF-8,
// an unreadable entry. What the launcher could not reproduce is listed as a
// problem: a dangling link, a link that leaves the tree.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace mkbundle {

struct TreeEntry {
  std::string path;  // relative to the folder, "/" between components
  mode_t mode = 0;   // st_mode (type and permissions)
  uint64_t size = 0;
  std::string linkTarget;  // symbolic links only
};

struct TreeListing {
  std::vector<TreeEntry> entries;         // files and links, sorted by path
  std::vector<std::string> emptyFolders;  // sorted
  std::vector<std::string> problems;
  uint64_t bytes = 0;
};

// "" and the listing, or the error that ended the walk, naming the entry.
std::string walkTree(const std::string& folder, TreeListing& listing);

// Where a link at `linkPath` (relative, "/" separated) pointing to `target`
// ends up, resolved inside a tree whose links are `links` (path -> target):
// nothing when it leaves the tree (an absolute target, ".." above the top),
// the link's own path for a loop (which reaches nothing), else the resolved
// relative path ("." for the top itself).
std::optional<std::string> resolveInside(const std::string& linkPath, const std::string& target,
                                         const std::map<std::string, std::string>& links);

// The absolute path of `path` with every link resolved, nothing when it
// cannot be resolved.
std::optional<std::string> realPath(const std::string& path);

}  // namespace mkbundle
