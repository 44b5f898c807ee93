// Reads the launcher's head, folders' special files, and prints findings.
#include "tools/mkbundle/bundle_sources.h"

#include <sys/stat.h>

#include <cstring>

#include "base/fs.h"

namespace mkbundle {
namespace {

constexpr size_t kMaxKeptContent = 1 << 20;

std::string readHead(const std::string& path, size_t limit) {
  kv::FilePtr file = kv::openFile(path, "rb");
  std::string bytes(limit, '\0');
  if (!file) return "";
  bytes.resize(std::fread(&bytes[0], 1, limit, file.get()));
  return bytes;
}

}  // namespace

LauncherKind launcherKindOf(std::FILE* file) {
  unsigned char head[4] = {0, 0, 0, 0};
  if (kv::fs::seek(file, 0, SEEK_SET) != 0 || std::fread(head, 1, sizeof head, file) < 2)
    return LauncherKind::kUnknown;
  if (head[0] == 'M' && head[1] == 'Z') return LauncherKind::kWindows;
  if (std::memcmp(head,
                  "\x7f"
                  "ELF",
                  4) == 0)
    return LauncherKind::kLinux;
  return LauncherKind::kUnknown;
}

ArchiveInfo infoFromTree(const std::string& folder, const TreeListing& listing) {
  ArchiveInfo info;
  for (const TreeEntry& entry : listing.entries) {
    ArchiveItem item;
    item.path = entry.path;
    item.hasMode = true;
    item.mode = entry.mode;
    item.size = entry.size;
    if (S_ISLNK(entry.mode)) {
      item.content = entry.linkTarget;
    } else if (isCheckedFile(entry.path)) {
      item.content = readHead(folder + "/" + entry.path, kMaxKeptContent);
    }
    info.items.push_back(item);
  }
  info.problems = listing.problems;
  info.contentsKnown = true;
  info.unpackedBytes = listing.bytes;
  info.emptyFolders = listing.emptyFolders.size();
  return info;
}

int reportFindings(const std::vector<Finding>& findings, bool unchecked, bool warnings) {
  int refusals = 0;
  for (const Finding& finding : findings) {
    const bool refused = finding.refusal && !unchecked;
    if (!refused && !warnings) continue;
    std::fprintf(stderr, "mkbundle: %s: %s\n", refused ? "refused" : "warning",
                 finding.text.c_str());
    if (refused) ++refusals;
  }
  return refusals;
}

}  // namespace mkbundle
