#include "extract/entry_path.h"

#include "base/fs.h"
#include "extract/output_file.h"

namespace kv {

namespace {

bool isSeparator(char c) { return c == '/' || (c == '\\' && output::backslashIsSeparator()); }

}  // namespace

void makeDirectoryChain(const std::string& path) {
  std::vector<std::string> levels;
  for (size_t i = 1; i < path.size(); ++i) {
    if (isSeparator(path[i]) && !isSeparator(path[i - 1])) levels.push_back(path.substr(0, i));
  }
  levels.push_back(path);
  fs::makeFolders(levels);
}

bool prepareEntryPath(const std::string& targetDir, const std::string& name) {
  std::string path = targetDir;
  size_t begin = 0;
  while (begin < name.size()) {
    size_t end = begin;
    while (end < name.size() && !isSeparator(name[end])) ++end;
    if (end > begin) {
      path += '/';
      path.append(name, begin, end - begin);
      const output::PathKind kind = output::pathKind(path);
      if (end >= name.size()) {
        // The entry's own place: a link there is renamed over as a name
        // where the host makes links; elsewhere (reparse points) refused.
        return kind != output::PathKind::kSymbolicLink || output::makesSymbolicLinks();
      }
      if (kind == output::PathKind::kSymbolicLink) return false;
      if (kind == output::PathKind::kMissing) output::makeDirectory(path);
    }
    begin = end + 1;
  }
  return true;
}

bool reachableWithoutLinks(const std::string& targetDir, const std::vector<std::string>& path) {
  std::string place = targetDir;
  for (size_t i = 0; i + 1 < path.size(); ++i) {
    place += '/';
    place += path[i];
    if (output::pathKind(place) == output::PathKind::kSymbolicLink) return false;
  }
  return true;
}

}  // namespace kv
