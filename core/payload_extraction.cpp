#include "core/payload_extraction.h"

#include "base/fs.h"
#include "core/install_dir.h"
#include "core/install_layout.h"
#include "extract/block_extraction.h"

namespace kv {
namespace {

// Whether the payload walk extracts a block with this tag.
bool payloadExtracts(const VersionCheckHandler& check, char tag) {
  return (tag == kTagJre && check.needJre) || (tag == kTagInstaller && check.needInstaller) ||
         tag == kTagPayload;
}

}  // namespace

int extractBundleArchive(std::FILE* file, const BlockDescriptor& block,
                         const std::string& installDir, const HostRules& rules, IProgress* progress,
                         std::string* failure) {
  std::string message;
  int result = 0;
  ArchiveListing listing;
  if (listArchive(file, block.start, block.end, &listing) == 0) {
    for (const ListedEntry& entry : listing.entries) {
      if (!entryTakesLockPlace(entry.name, rules)) continue;
      message = "Refusing unsafe archive entry '" + entry.name + "'\n";
      result = kErrorFail;
      break;
    }
  }
  if (result == 0) {
    if (!makeDirs(installDir, rules, &message)) {
      message += "\n";
      result = kErrorFail;
    } else {
      result = extractBlock(file, block.start, block.end, installDir, progress, &message);
    }
  }
  if (failure) {
    *failure = message;
  } else if (!message.empty()) {
    std::fputs(message.c_str(), stdout);
  }
  return result;
}

PayloadHandler::PayloadHandler(const VersionCheckHandler& versionCheck, IProgress* progress)
    : check_(versionCheck), progress_(progress) {}

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
  int result =
      extractBundleArchive(file, block, check_.installDir, check_.rules, progress_, nullptr);
  result_ = result;
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

bool PayloadHandler::dataDamaged() const {
  return failed() && (result_ == kErrorData || result_ == kErrorCrc || result_ == kErrorInputEof ||
                      result_ == kErrorArchive || result_ == kErrorNoArchive);
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

}  // namespace kv
