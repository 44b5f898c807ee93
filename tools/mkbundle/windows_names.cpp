#include "tools/mkbundle/windows_names.h"

#include <cctype>
#include <vector>

namespace mkbundle {

namespace {

std::vector<std::string> partsOf(const std::string& path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '/' || c == '\\') {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "CON", "nul.txt", "COM1.log", "lpt9 .x": the system opens a device for them.
bool isDeviceName(const std::string& name) {
  std::string base = lower(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$"})
    if (base == device) return true;
  return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

std::string partProblem(const std::string& part) {
  if (isDeviceName(part)) return "'" + part + "' is a device name on Windows";
  if (part.back() == '.' || part.back() == ' ')
    return "'" + part + "' ends in a " + (part.back() == '.' ? "dot" : "space") +
           ", which Windows drops";
  for (char c : part) {
    if (static_cast<unsigned char>(c) < 32 || std::string("<>:\"|?*").find(c) != std::string::npos)
      return "'" + part + "' holds a character Windows forbids in names";
  }
  return "";
}

}  // namespace

std::string windowsNameProblem(const std::string& path) {
  for (const std::string& part : partsOf(path)) {
    if (part == "." || part == "..") continue;  // the entry rules refuse these
    std::string problem = partProblem(part);
    if (!problem.empty()) return problem;
  }
  return "";
}

std::string windowsNameKey(const std::string& path) {
  std::string key;
  for (std::string part : partsOf(path)) {
    while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
    key += (key.empty() ? "" : "/") + lower(part);
  }
  return key;
}

}  // namespace mkbundle
