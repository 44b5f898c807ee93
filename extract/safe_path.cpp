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

bool resolveLinkTarget(const std::string& name, const std::string& target,
                       std::vector<std::string>* path) {
  if (target.empty() || target[0] == '/' || target.find('\\') != std::string::npos ||
      target.find('\0') != std::string::npos) {
    return false;
  }
  // The folder holding the link. Links are made only where "/" alone
  // separates components: "a\\link" lies in the target itself.
  std::vector<std::string> place;
  size_t begin = 0;
  while (begin <= name.size()) {
    size_t end = begin;
    while (end < name.size() && name[end] != '/') ++end;
    const std::string component = name.substr(begin, end - begin);
    if (!component.empty() && component != ".") place.push_back(component);
    begin = end + 1;
  }
  if (place.empty()) return false;
  place.pop_back();
  bool named = false;
  begin = 0;
  while (begin <= target.size()) {
    size_t end = begin;
    while (end < target.size() && target[end] != '/') ++end;
    const std::string component = target.substr(begin, end - begin);
    begin = end + 1;
    if (component.empty() || component == ".") continue;
    if (component == "..") {
      if (named || place.empty()) return false;
      place.pop_back();
      continue;
    }
    named = true;
    place.push_back(component);
  }
  if (!named) return false;
  *path = std::move(place);
  return true;
}

}  // namespace kv
