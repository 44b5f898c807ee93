#include "core/tag_handlers.h"

#include <cstring>

#include "core/fs.h"
#include "core/install_dir.h"
#include "core/installer_version.h"
#include "core/text_store.h"
#include "extract/archive_file_count.h"
#include "extract/block_stream.h"
#include "extract/extract_archive.h"

namespace kv {

namespace {

constexpr uint32_t kVersionBlockLimit = 16384;
constexpr const char* kJreRelease = "1.8.0_40";

std::string kvInstallerFolder(const std::string& installDir, const HostRules& rules) {
  return installDir + "/maintenance/kvInstaller/" + rules.platformName;
}

// Text of a block up to its first NUL.
std::string blockText(std::FILE* file, const BlockDescriptor& block, uint32_t limit) {
  std::string data = readBlock(file, block, limit);
  size_t nul = data.find('\0');
  if (nul != std::string::npos) data.resize(nul);
  return data;
}

// Whether the payload walk extracts a block with this tag.
bool payloadExtracts(const VersionCheckHandler& check, char tag) {
  return (tag == kTagJre && check.needJre) || (tag == kTagInstaller && check.needInstaller) ||
         tag == kTagPayload;
}

}  // namespace

std::string installerExecutablePath(const std::string& installDir, const HostRules& rules) {
  return kvInstallerFolder(installDir, rules) + "/" + rules.installerFileName;
}

std::string jreDirectoryPath(const std::string& installDir, const HostRules& rules) {
  return kvInstallerFolder(installDir, rules) + "/jre";
}

std::string olderJreDirectoryPath(const std::string& installDir, const HostRules& rules) {
  return installDir + "/jre/1.6.0_06/" + rules.platformName;
}

std::string jreMarkerPath(const std::string& installDir, const HostRules& rules) {
  return jreDirectoryPath(installDir, rules) + "/" + kJreRelease + "/COPYRIGHT";
}

std::string installerLockPath(const std::string& installDir) { return installDir + "/.installerLock"; }

std::string jreLockPath(const std::string& installDir) { return installDir + "/.jreLock"; }

std::string readBlock(std::FILE* file, const BlockDescriptor& block, uint32_t limit) {
  uint32_t length = block.length();
  if (length > limit) length = limit;
  std::string data(length, '\0');
  if (length == 0 || fs::seek(file, block.start, SEEK_SET) != 0) return std::string();
  size_t got = std::fread(&data[0], 1, length, file);
  data.resize(got);
  return data;
}

bool ArgCounter::visit(std::FILE*, const BlockDescriptor& block) {
  if (block.tag() == kTagArgument) ++count;
  return true;
}

ArgFetcher::ArgFetcher(int count, std::vector<const char*>& args) : args_(args), remaining_(count) {
  args_.assign(static_cast<size_t>(count), nullptr);
}

bool ArgFetcher::visit(std::FILE* file, const BlockDescriptor& block) {
  if (block.tag() != kTagArgument) return true;
  if (remaining_ <= 0) return false;  // more 'a' blocks than counted: the file changed
  // An argument is the block's raw text; a NUL would end it for the installer anyway.
  std::string text = readBlock(file, block, block.length());
  text.resize(std::strlen(text.c_str()));
  --remaining_;
  args_[static_cast<size_t>(remaining_)] = keepText(std::move(text));
  return true;
}

bool RelPrinter::visit(std::FILE* file, const BlockDescriptor& block) {
  if (block.tag() != kTagRelease) return true;
  std::string text = blockText(file, block, block.length());
  std::printf("Korvane Installer version %s\n", text.c_str());
  return true;
}

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

PayloadHandler::PayloadHandler(const VersionCheckHandler& versionCheck, IProgress* progress)
    : check_(versionCheck), progress_(progress) {}

int PayloadHandler::extractBlock(std::FILE* file, const BlockDescriptor& block) {
  makeDirs(check_.installDir, check_.rules);
  BlockStream stream(file, block.start, block.end);
  return extractArchive(check_.installDir, progress_, stream);
}

bool PayloadHandler::visit(std::FILE* file, const BlockDescriptor& block) {
  const char* announce;
  const char* failure;
  std::string lock;
  if (!payloadExtracts(check_, block.tag())) return true;
  switch (block.tag()) {
    case kTagJre:
      announce = "Extracting JRE...";
      failure = "ERROR: Extracting jre failed: %d\n";
      lock = jreLockPath(check_.installDir);
      break;
    case kTagInstaller:
      announce = "Extracting Installer...";
      failure = "ERROR: Extracting install failed: %d\n";
      lock = installerLockPath(check_.installDir);
      break;
    case kTagPayload:
      announce = "Extracting Payload...";
      failure = "ERROR: Extracting payload failed: %d\n";
      break;
    default:
      return true;
  }

  std::printf("%s\n", announce);
  std::fflush(stdout);
  if (!lock.empty()) {
    fs::createLockFile(lock);  // one that cannot be made is simply not there
    emptyInstallerProfile(check_.installDir, check_.rules);
  }
  int result = extractBlock(file, block);
  if (result != 0) {
    char line[64];
    std::snprintf(line, sizeof line, failure, result);
    failure_ = line;
    std::fflush(stdout);
    std::fputs(line, stderr);
    return false;
  }
  if (!lock.empty()) fs::removeFile(lock);
  return true;
}

PayloadFileCounter::PayloadFileCounter(const VersionCheckHandler& versionCheck)
    : check_(versionCheck) {}

bool PayloadFileCounter::visit(std::FILE* file, const BlockDescriptor& block) {
  if (!payloadExtracts(check_, block.tag())) return true;
  int count = 0;
  uint64_t size = 0;
  if (measureArchive(file, block.start, block.end, count, size)) {
    files += count;
    bytes += size;
  }
  return true;
}

InstallCheckHandler::InstallCheckHandler(std::string dir, const HostRules& rules)
    : installDir(std::move(dir)) {
  installerInstalled = fs::exists(installerExecutablePath(installDir, rules));
  jreInstalled = fs::canOpenDirectory(jreDirectoryPath(installDir, rules)) ||
                 fs::canOpenDirectory(olderJreDirectoryPath(installDir, rules));
  InstallerVersion installed;
  if (readInstalledVersion(installDir, rules, installed) && installed.major < 3 && installed.minor < 3) {
    supportsPatch = false;
  }
}

bool InstallCheckHandler::visit(std::FILE*, const BlockDescriptor& block) {
  if (block.tag() == kTagInstaller) bundleHasInstaller = true;
  if (block.tag() == kTagJre) bundleHasJre = true;
  return true;
}

bool canRunInstaller(std::FILE* launcherFile, const std::string& directory, const HostRules& rules) {
  InstallCheckHandler check(directory, rules);
  if (walkBundle(launcherFile, check)) {
    return (check.installerInstalled || check.bundleHasInstaller) &&
           (check.jreInstalled || check.bundleHasJre);
  }
  return check.installerInstalled && check.jreInstalled;
}

}  // namespace kv
