#include "core/install_layout.h"

#include <cctype>

namespace kv {
namespace {

constexpr char kMaintenanceFolder[] = "maintenance";
constexpr char kInstallerFolder[] = "kvInstaller";
constexpr char kProfilesFolder[] = "kvProfiles";
constexpr char kVersionFile[] = ".eclipseproduct";
constexpr char kJreFolder[] = "jre";
constexpr char kJreRelease[] = "1.8.0_40";
constexpr char kJreMarker[] = "COPYRIGHT";
constexpr char kOlderJreRelease[] = "1.6.0_06";
constexpr char kInstallerLock[] = ".installerLock";
constexpr char kJreLock[] = ".jreLock";
constexpr char kWindowsProgram[] = "kvInstaller";
constexpr char kWindowsConsoleProgram[] = "kvInstallerc";

std::string profileName(const HostRules& rules) {
  return std::string("Installer.") + rules.platformName + ".profile";
}

}  // namespace

std::string installerFolder(const std::string& installDir, const HostRules& rules, char separator) {
  const std::string sep(1, separator);
  return installDir + sep + kMaintenanceFolder + sep + kInstallerFolder + sep + rules.platformName;
}

std::string installerExecutablePath(const std::string& installDir, const HostRules& rules) {
  return installerFolder(installDir, rules) + "/" + rules.installerFileName;
}

std::string installedVersionFile(const std::string& installDir, const HostRules& rules) {
  return installerFolder(installDir, rules) + "/" + kVersionFile;
}

std::vector<std::string> installerProfileFolders(const HostRules& rules) {
  return {kMaintenanceFolder, kInstallerFolder, kProfilesFolder, profileName(rules)};
}

std::string installerProfileDirectory(const std::string& installDir, const HostRules& rules) {
  std::string path = installDir;
  for (const std::string& folder : installerProfileFolders(rules)) path += rules.separator + folder;
  return path;
}

std::string jreDirectoryPath(const std::string& installDir, const HostRules& rules) {
  return installerFolder(installDir, rules) + "/" + kJreFolder;
}

std::string olderJreDirectoryPath(const std::string& installDir, const HostRules& rules) {
  return installDir + "/" + kJreFolder + "/" + kOlderJreRelease + "/" + rules.platformName;
}

std::string jreMarkerPath(const std::string& installDir, const HostRules& rules) {
  return jreDirectoryPath(installDir, rules) + "/" + kJreRelease + "/" + kJreMarker;
}

std::string installerLockPath(const std::string& installDir) {
  return installDir + "/" + kInstallerLock;
}

std::string jreLockPath(const std::string& installDir) { return installDir + "/" + kJreLock; }

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
    return first == folded(kInstallerLock) || first == folded(kJreLock);
  }
  return false;
}

std::string installerProgramPath(const std::string& installDir, bool consoleMode) {
  return installerFolder(installDir, kWindowsHost, '\\') + "\\" +
         (consoleMode ? kWindowsConsoleProgram : kWindowsProgram);
}

}  // namespace kv
