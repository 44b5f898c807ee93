#include "core/ini_file.h"

#include <cstdio>

#include "base/fs.h"
#include "core/dir_path.h"
#include "core/text.h"

namespace kv {
namespace {

// Reads one line without its newline; false at the end of the file when
// nothing was read.
bool readLine(std::FILE* file, std::string& line) {
  line.clear();
  int c;
  bool any = false;
  while ((c = std::getc(file)) != EOF) {
    any = true;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
  }
  return any;
}

}  // namespace

std::string iniNameFor(const std::string& path) {
  static const std::string kExe = ".exe";
  if (path.size() >= kExe.size() &&
      path.compare(path.size() - kExe.size(), kExe.size(), kExe) == 0) {
    return path.substr(0, path.size() - kExe.size()) + ".ini";
  }
  size_t underscore = path.rfind('_');
  if (underscore != std::string::npos && path.find('/', underscore) == std::string::npos) {
    return path.substr(0, underscore) + ".ini";
  }
  return path + ".ini";
}

std::string iniDirectoryFor(const std::string& path, const HostRules& rules,
                            const std::string& currentDir) {
  return absoluteDirectory(directoryPart(path, rules), rules, currentDir);
}

bool readIniFile(const std::string& path, const HostRules& rules, std::vector<std::string>& lines) {
  if (path.empty()) {
    lines.clear();
    return false;
  }
  return readIniFile(path, iniDirectoryFor(path, rules, fs::currentDirectory()), lines);
}

bool readIniFile(const std::string& path, const std::string& iniDirectory,
                 std::vector<std::string>& lines) {
  static const std::string kPlaceholder = "${iniloc}";
  lines.clear();
  if (path.empty()) return false;
  // A directory opens for reading on some systems but has no lines.
  if (fs::isDirectory(path)) return false;
  FilePtr file = openFile(path, "r");
  if (!file) return false;

  std::string line;
  while (readLine(file.get(), line)) {
    size_t begin = 0;
    size_t end = line.size();
    while (begin < end && isBlank(line[begin])) ++begin;
    while (end > begin && isBlank(line[end - 1])) --end;
    if (begin == end || line[begin] == '#') continue;
    std::string argument = line.substr(begin, end - begin);
    size_t at = argument.find(kPlaceholder);
    if (at != std::string::npos) argument.replace(at, kPlaceholder.size(), iniDirectory);
    lines.push_back(std::move(argument));
  }
  if (std::ferror(file.get())) {
    lines.clear();
    return false;
  }
  return true;
}

std::vector<std::string> defaultIniCandidates(const std::string& exePath, const HostRules& rules) {
  std::string first = iniNameFor(exePath);
  size_t lastSeparator = exePath.find_last_of("\\/");
  if (lastSeparator == std::string::npos) return {first, first};
  const std::string sep(1, rules.separator);
  std::string folder = exePath.substr(0, lastSeparator + 1);
  std::string name = exePath.substr(lastSeparator + 1);
  return {first, iniNameFor(folder + ".." + sep + "installer_customization" + sep + name)};
}

}  // namespace kv
