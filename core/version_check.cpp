#include "core/version_check.h"

#include "base/fs.h"
#include "core/install_layout.h"
#include "core/installer_version.h"

namespace kv {
namespace {

constexpr uint32_t kVersionBlockLimit = 16384;

}  // namespace

VersionCheckHandler::VersionCheckHandler(std::string dir, const HostRules& hostRules)
    : installDir(std::move(dir)), rules(hostRules) {}

bool VersionCheckHandler::visit(std::FILE* file, const BlockDescriptor& block) {
  if (block.tag() != kTagVersion) return true;
  std::string text = blockText(file, block, kVersionBlockLimit);

  needInstaller = true;
  InstallerVersion installed, bundled;
  if (readInstalledVersion(installDir, rules, installed) && parseVersion(text, bundled)) {
    needInstaller = isNewer(bundled, installed);
  }
  // A lock is any entry at its name: a link there is never opened.
  if (!needInstaller && fs::entryExists(installerLockPath(installDir))) needInstaller = true;

  needJre = needInstaller;
  if (fs::exists(jreMarkerPath(installDir, rules))) needJre = false;
  if (!needJre && fs::entryExists(jreLockPath(installDir))) needJre = true;
  return false;
}

}  // namespace kv
