#include "core/install_dir.h"

#include "base/fs.h"
#include "core/install_layout.h"
#include "core/text.h"

namespace kv {

namespace {

const char kProbeName[] = "setup.log";

bool sameName(const std::string& a, const std::string& b, bool ignoreCase) {
  return ignoreCase ? equalsIgnoringAsciiCase(a, b) : a == b;
}

// Whether the directory listing holds a log under another spelling, on a
// host that ignores case in file names. (A log under the exact name is found
// by creating the probe exclusively.)
bool listsProbeSpelledOtherwise(fs::DirectoryReader& dir, const HostRules& rules) {
  std::string name;
  while (dir.next(name)) {
    if (name != kProbeName && sameName(name, kProbeName, rules.caseInsensitiveFileNames))
      return true;
  }
  return false;
}

}  // namespace

std::vector<std::string> directoryPrefixes(const std::string& path, const HostRules& rules) {
  std::string copy = path;
  for (char& c : copy) {
    if (c == '\\') c = '/';
  }
  std::vector<std::string> prefixes;
  size_t slash = copy.find('/');
  if (slash == 0) slash = copy.find('/', 1);
  while (slash != std::string::npos) {
    if (rules.windowsPaths && slash == 1 && copy[0] == '/') {
      // "//server/share": the server alone is no directory; the first prefix
      // is the one that ends after the share name.
      slash = copy.find('/', slash + 1);
      if (slash != std::string::npos) slash = copy.find('/', slash + 1);
      continue;
    }
    prefixes.push_back(copy.substr(0, slash));
    slash = copy.find('/', slash + 1);
  }
  prefixes.push_back(copy);
  return prefixes;
}

bool makeDirs(const std::string& path, const HostRules& rules, std::string* message) {
  const int error = fs::makeFolders(directoryPrefixes(path, rules));
  if (error != 0 && message) {
    *message = "ERROR: directory " + path + " cannot be created: " + std::to_string(error) + ".";
  }
  return error == 0;
}

bool checkInstallDir(const std::string& path, const HostRules& rules, std::string* message) {
  if (!makeDirs(path, rules, message)) return false;
  fs::DirectoryReader dir(path);
  if (!dir.isOpen()) {
    *message = "ERROR: " + path + " cannot be opened.";
    return false;
  }
  bool logExisted = listsProbeSpelledOtherwise(dir, rules);
  dir.close();

  const std::string probe = path + "/" + kProbeName;
  // Only a probe this check created itself is removed again: a log that was
  // there (under any spelling, or made meanwhile by a second launcher) stays.
  bool created = false;
  int error = fs::appendOrCreate(probe, created);
  if (error != 0) {
    *message =
        "ERROR: cannot write to install directory (" + path + "): " + std::to_string(error) + ".";
    return false;
  }
  if (created && !logExisted) fs::removeFile(probe);
  return true;
}

void emptyInstallerProfile(const std::string& installDir, const HostRules& rules) {
  // Nothing below the install directory is followed, so that a link planted
  // on the way never leads the emptying outside it.
  fs::emptyFolderBelow(installDir, installerProfileFolders(rules));
}

}  // namespace kv
