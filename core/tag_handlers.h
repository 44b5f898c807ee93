// The handlers that give the bundle its meaning. Each walk of the bundle
// uses one of them: embedded arguments (ArgCounter, ArgFetcher), the release
// line (RelPrinter), whether the installed installer and runtime are current
// (VersionCheckHandler), extracting what is needed with lock files that make
// an interrupted extraction repeat itself (PayloadHandler), and whether a
// location can run the installer (InstallCheckHandler, canRunInstaller).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "core/bundle.h"
#include "core/host_rules.h"

namespace kv {

class IProgress;

// Counts the 'a' blocks.
class ArgCounter : public TagHandler {
 public:
  bool visit(std::FILE* file, const BlockDescriptor& block) override;
  int count = 0;
};

// Reads each 'a' block into args, in file order (the walk runs backwards).
// The texts live until the process ends.
class ArgFetcher : public TagHandler {
 public:
  ArgFetcher(int count, std::vector<const char*>& args);
  bool visit(std::FILE* file, const BlockDescriptor& block) override;

 private:
  std::vector<const char*>& args_;
  int remaining_;
};

// Prints "Korvane Installer version %s\n" for every 'r' block.
class RelPrinter : public TagHandler {
 public:
  bool visit(std::FILE* file, const BlockDescriptor& block) override;
};

// Decides from the 'v' block and the install directory whether the
// installer and the Java runtime must be extracted; stops at the 'v' block.
class VersionCheckHandler : public TagHandler {
 public:
  VersionCheckHandler(std::string installDir, const HostRules& rules);
  bool visit(std::FILE* file, const BlockDescriptor& block) override;

  bool needInstaller = true;
  bool needJre = true;
  const std::string installDir;
  const HostRules& rules;
};

// Extracts the 'j', 'i' (when needed) and 'p' blocks into the install
// directory, each 'j'/'i' guarded by its lock file. `progress` may be null.
// A failed extraction stops the walk; failure() then holds the error line
// that was printed ("" while every extraction succeeded).
class PayloadHandler : public TagHandler {
 public:
  PayloadHandler(const VersionCheckHandler& versionCheck, IProgress* progress);
  bool visit(std::FILE* file, const BlockDescriptor& block) override;
  const std::string& failure() const { return failure_; }

 private:
  int extractBlock(std::FILE* file, const BlockDescriptor& block);
  const VersionCheckHandler& check_;
  IProgress* progress_;
  std::string failure_;
};

// Adds up the files of the blocks a PayloadHandler walk will extract, and
// the bytes they unpack to, read from the archives' headers, so that one
// progress bar can span them all.
class PayloadFileCounter : public TagHandler {
 public:
  explicit PayloadFileCounter(const VersionCheckHandler& versionCheck);
  bool visit(std::FILE* file, const BlockDescriptor& block) override;

  int files = 0;
  uint64_t bytes = 0;  // what those files unpack to

 private:
  const VersionCheckHandler& check_;
};

// What a location holds and what the bundle carries.
class InstallCheckHandler : public TagHandler {
 public:
  InstallCheckHandler(std::string installDir, const HostRules& rules);
  bool visit(std::FILE* file, const BlockDescriptor& block) override;

  bool installerInstalled = false;
  bool jreInstalled = false;
  bool bundleHasInstaller = false;
  bool bundleHasJre = false;
  bool supportsPatch = true;
  const std::string installDir;
};

// Whether `directory` holds, or will receive from the bundle, both the
// installer and a Java runtime.
bool canRunInstaller(std::FILE* launcherFile, const std::string& directory, const HostRules& rules);

// Paths inside an install directory.
std::string installerExecutablePath(const std::string& installDir, const HostRules& rules);
std::string jreDirectoryPath(const std::string& installDir, const HostRules& rules);
std::string olderJreDirectoryPath(const std::string& installDir, const HostRules& rules);
std::string jreMarkerPath(const std::string& installDir, const HostRules& rules);
std::string installerLockPath(const std::string& installDir);
std::string jreLockPath(const std::string& installDir);

// Reads up to `limit` bytes of a block's data (fewer when the file ends).
std::string readBlock(std::FILE* file, const BlockDescriptor& block, uint32_t limit);

}  // namespace kv
