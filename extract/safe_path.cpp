#include "extract/safe_path.h"

namespace kv {

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

bool isAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// "..", "...", ". .", ".. " and the like: names that reach the parent.
bool isParentLike(const std::string& component) {
  if (component.empty() || component == ".") return false;
  bool hasDot = false;
  for (char c : component) {
    if (c == '.') {
      hasDot = true;
    } else if (c != ' ') {
      return false;
    }
  }
  return hasDot;
}

}  // namespace

bool isSafeEntryName(const std::string& name) {
  if (name.empty() || isSeparator(name[0])) return false;
  if (name.size() >= 2 && isAsciiLetter(name[0]) && name[1] == ':') return false;
  size_t begin = 0;
  while (begin <= name.size()) {
    size_t end = begin;
    while (end < name.size() && !isSeparator(name[end])) ++end;
    if (isParentLike(name.substr(begin, end - begin))) return false;
    begin = end + 1;
  }
  return true;
}

}  // namespace kv
