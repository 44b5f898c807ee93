#include "core/install_check.h"

#include "base/fs.h"
#include "core/install_layout.h"
#include "core/installer_version.h"

namespace kv {

InstallCheckHandler::InstallCheckHandler(std::string dir, const HostRules& rules)
    : installDir(std::move(dir)) {
  installerInstalled = fs::exists(installerExecutablePath(installDir, rules));
  jreInstalled = fs::canOpenDirectory(jreDirectoryPath(installDir, rules)) ||
                 fs::canOpenDirectory(olderJreDirectoryPath(installDir, rules));
  InstallerVersion installed;
  if (readInstalledVersion(installDir, rules, installed) && installed.major < 3 &&
      installed.minor < 3) {
    supportsPatch = false;
  }
}

bool InstallCheckHandler::visit(std::FILE*, const BlockDescriptor& block) {
  if (block.tag() == kTagInstaller) bundleHasInstaller = true;
  if (block.tag() == kTagJre) bundleHasJre = true;
  return true;
}

bool canRunInstaller(std::FILE* launcherFile, const std::string& directory,
                     const HostRules& rules) {
  InstallCheckHandler check(directory, rules);
  if (walkBundle(launcherFile, check)) {
    return (check.installerInstalled || check.bundleHasInstaller) &&
           (check.jreInstalled || check.bundleHasJre);
  }
  return check.installerInstalled && check.jreInstalled;
}

}  // namespace kv
