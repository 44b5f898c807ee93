// Reads a folder with opendir/lstat, depth first, names sorted.
#include "tools/mkbundle/tree_walk.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

namespace mkbundle {
namespace {

// Links that resolve through more links than this are taken as a loop.
constexpr int kMaxLinkHops = 40;

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// Both "/" and "\" separate, and a drive letter makes a path absolute: the
// same archive is extracted on Windows too.
bool isAbsoluteTarget(const std::string& target) {
  return target.empty() || isSeparator(target[0]) || (target.size() >= 2 && target[1] == ':');
}

std::string joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : "/") + part;
  return out;
}

bool resolveInto(std::vector<std::string>& stack, const std::string& target,
                 const std::map<std::string, std::string>& links, int& hops) {
  if (isAbsoluteTarget(target)) return false;
  size_t begin = 0;
  while (begin <= target.size()) {
    size_t end = begin;
    while (end < target.size() && !isSeparator(target[end])) ++end;
    const std::string part = target.substr(begin, end - begin);
    begin = end + 1;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (stack.empty()) return false;
      stack.pop_back();
      continue;
    }
    stack.push_back(part);
    const auto link = links.find(joined(stack));
    if (link != links.end()) {
      if (++hops > kMaxLinkHops) return false;
      stack.pop_back();
      if (!resolveInto(stack, link->second, links, hops)) return false;
    }
  }
  return true;
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// Well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool isUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t extra = 0;
    uint32_t value = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      value = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      value = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      value = c & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[extra] || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000))
      return false;
    i += extra + 1;
  }
  return true;
}

class Walker {
 public:
  Walker(const std::string& top, TreeListing& listing) : top_(top), listing_(listing) {}

  std::string walk(const std::string& relative) {
    const std::string folder = relative.empty() ? top_ : top_ + "/" + relative;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return "cannot read folder " + quoted(folder) + ": " + std::strerror(errno);
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    const int readError = errno;
    ::closedir(dir);
    if (readError != 0)
      return "cannot read folder " + quoted(folder) + ": " + std::strerror(readError);
    if (names.empty() && !relative.empty()) listing_.emptyFolders.push_back(relative);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string path = relative.empty() ? name : relative + "/" + name;
      std::string error = visit(path);
      if (!error.empty()) return error;
    }
    return "";
  }

  void checkLinks() {
    std::map<std::string, std::string> links;
    for (const TreeEntry& entry : listing_.entries)
      if (S_ISLNK(entry.mode)) links[entry.path] = entry.linkTarget;
    for (const auto& link : links) {
      if (dangling_.count(link.first) == 0 && !resolveInside(link.first, link.second, links))
        listing_.problems.push_back(
            "link " + quoted(top_ + "/" + link.first) + " -> " + quoted(link.second) +
            " leaves the folder; the launcher refuses links that do not stay inside the "
            "install directory (replace it by the file, or by a relative link inside)");
    }
  }

 private:
  std::string visit(const std::string& path) {
    const std::string full = top_ + "/" + path;
    if (path.find_first_of("\n\r") != std::string::npos)
      return "the name of " + quoted(full) + " holds a line break; 7zz cannot list it";
    if (!isUtf8(path))
      return "the name of " + quoted(full) + " is not UTF-8; archives store names as Unicode";
    struct stat st;
    if (::lstat(full.c_str(), &st) != 0)
      return "cannot read " + quoted(full) + ": " + std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return walk(path);
    TreeEntry entry;
    entry.path = path;
    entry.mode = st.st_mode;
    entry.size = static_cast<uint64_t>(st.st_size);
    if (S_ISLNK(st.st_mode)) {
      std::string target(static_cast<size_t>(st.st_size) + 1, '\0');
      const ssize_t length = ::readlink(full.c_str(), &target[0], target.size());
      if (length < 0) return "cannot read link " + quoted(full) + ": " + std::strerror(errno);
      target.resize(static_cast<size_t>(length));
      struct stat pointed;
      if (::stat(full.c_str(), &pointed) != 0) {
        listing_.problems.push_back("dangling link " + quoted(full) + " -> " + quoted(target) +
                                    ": it points to nothing; remove it or make it point "
                                    "inside the folder");
        dangling_.insert(path);
      }
      entry.linkTarget = target;
    } else if (S_ISREG(st.st_mode)) {
      if (::access(full.c_str(), R_OK) != 0)
        return "cannot read " + quoted(full) + ": " + std::strerror(errno);
      listing_.bytes += entry.size;
    } else {
      return quoted(full) +
             " is neither a file, a folder nor a link; the launcher can only "
             "create files";
    }
    listing_.entries.push_back(entry);
    return "";
  }

  const std::string top_;
  TreeListing& listing_;
  std::set<std::string> dangling_;
};

}  // namespace

std::optional<std::string> resolveInside(const std::string& linkPath, const std::string& target,
                                         const std::map<std::string, std::string>& links) {
  std::vector<std::string> stack;
  size_t begin = 0;
  for (size_t slash; (slash = linkPath.find('/', begin)) != std::string::npos; begin = slash + 1)
    stack.push_back(linkPath.substr(begin, slash - begin));
  int hops = 0;
  if (!resolveInto(stack, target, links, hops)) {
    // A loop (links that lead to each other) reaches nothing at all, inside
    // or out: the system refuses to follow it, so nothing is written
    // through it. It names only itself.
    if (hops > kMaxLinkHops) return linkPath;
    return std::nullopt;
  }
  if (stack.empty()) return std::string(".");
  // Nothing but empty names is left of a link path that starts with "/".
  std::string resolved = joined(stack);
  if (resolved.empty()) return std::nullopt;
  return resolved;
}

std::string walkTree(const std::string& folder, TreeListing& listing) {
  listing = TreeListing();
  Walker walker(folder, listing);
  std::string error = walker.walk("");
  if (error.empty()) walker.checkLinks();
  return error;
}

std::optional<std::string> realPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return std::nullopt;
  std::string result(resolved);
  std::free(resolved);
  return result;
}

}  // namespace mkbundle
