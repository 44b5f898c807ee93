#include "core/install_layout.h"

#include <cctype>

namespace kv {
namespace {

constexpr char kMaintenanceFolder[] = "maintenance";
constexpr char kInstallerFolder[] = "kvInstaller";
constexpr char kProfilesFolder[] = "kvProfiles";
constexpr char kProgram[] = "kvInstaller";
constexpr char kConsoleTwin[] = "kvInstallerc";
constexpr char kVersionFile[] = ".eclipseproduct";
constexpr char kJreFolder[] = "jre";
constexpr char kJreRelease[] = "1.8.0_40";
constexpr char kJreMarker[] = "COPYRIGHT";
constexpr char kOlderJreRelease[] = "1.6.0_06";

std::string profileName(const HostRules& rules) {
  return std::string("Installer.") + rules.platformName + ".profile";
}

// The program's path without the suffix the system adds.
std::string programStem(const HostRules& rules, bool consoleTwin) {
  return layout::installerFolder(rules) + "/" + (consoleTwin ? kConsoleTwin : kProgram);
}

std::string inside(const std::string& installDir, const std::string& path) {
  return installDir + "/" + path;
}

}  // namespace

namespace layout {

const char kInstallerLock[] = ".installerLock";
const char kJreLock[] = ".jreLock";

std::string installerFolder(const HostRules& rules) {
  return std::string(kMaintenanceFolder) + "/" + kInstallerFolder + "/" + rules.platformName;
}

std::string installerProgram(const HostRules& rules, bool consoleTwin) {
  return programStem(rules, consoleTwin) + rules.programSuffix;
}

std::string versionFile(const HostRules& rules) {
  return installerFolder(rules) + "/" + kVersionFile;
}

std::string jreFolder(const HostRules& rules) { return installerFolder(rules) + "/" + kJreFolder; }

std::string olderJreFolder(const HostRules& rules) {
  return std::string(kJreFolder) + "/" + kOlderJreRelease + "/" + rules.platformName;
}

std::string jreMarker(const HostRules& rules) {
  return jreFolder(rules) + "/" + kJreRelease + "/" + kJreMarker;
}

}  // namespace layout

std::vector<std::string> installerProfileFolders(const HostRules& rules) {
  return {kMaintenanceFolder, kInstallerFolder, kProfilesFolder, profileName(rules)};
}

std::string installerFolder(const std::string& installDir, const HostRules& rules) {
  return inside(installDir, layout::installerFolder(rules));
}

std::string installerExecutablePath(const std::string& installDir, const HostRules& rules) {
  return inside(installDir, layout::installerProgram(rules));
}

std::string installedVersionFile(const std::string& installDir, const HostRules& rules) {
  return inside(installDir, layout::versionFile(rules));
}

std::string jreDirectoryPath(const std::string& installDir, const HostRules& rules) {
  return inside(installDir, layout::jreFolder(rules));
}

std::string olderJreDirectoryPath(const std::string& installDir, const HostRules& rules) {
  return inside(installDir, layout::olderJreFolder(rules));
}

std::string jreMarkerPath(const std::string& installDir, const HostRules& rules) {
  return inside(installDir, layout::jreMarker(rules));
}

std::string installerLockPath(const std::string& installDir) {
  return inside(installDir, layout::kInstallerLock);
}

std::string jreLockPath(const std::string& installDir) {
  return inside(installDir, layout::kJreLock);
}

std::string installerProgramPath(const std::string& installDir, const HostRules& rules,
                                 bool consoleTwin) {
  std::string path = inside(installDir, programStem(rules, consoleTwin));
  for (size_t i = installDir.size(); i < path.size(); ++i)
    if (path[i] == '/') path[i] = rules.separator;
  return path;
}

bool entryTakesLockPlace(const std::string& entryName, const HostRules& rules) {
  auto folded = [&](std::string text) {
    if (rules.caseInsensitiveFileNames)
      for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  const std::string separators = std::string("/") + rules.separator;
  size_t begin = 0;
  while (begin < entryName.size()) {
    size_t end = entryName.find_first_of(separators, begin);
    if (end == std::string::npos) end = entryName.size();
    const std::string first = folded(entryName.substr(begin, end - begin));
    begin = end + 1;
    if (first.empty() || first == ".") continue;
    return first == folded(layout::kInstallerLock) || first == folded(layout::kJreLock);
  }
  return false;
}

}  // namespace kv
