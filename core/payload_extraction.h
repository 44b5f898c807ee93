// Extracting the bundle's archives into the install directory: the Java
// runtime ('j') and the installer ('i') when the version check asks for
// them, each guarded by its lock file so that an interrupted extraction is
// repeated by the next run, and the payload ('p') every time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/bundle.h"
#include "core/version_check.h"

namespace kv {

class IProgress;

// Extracts one archive block of the bundle into `installDir` the way every
// run does, so that mkbundle's trial install applies the very same rules:
// the folder is made first (a folder that cannot be made: result 11,
// "ERROR: directory ... cannot be created: <errno>."), and an archive holding an entry in the place
// of a lock file is refused before anything is written (result 11, "Refusing unsafe archive entry
// '...'"). The failure's line goes to *failure when given ("" for none), else to standard output.
// 0, or the extraction's result.
int extractBundleArchive(std::FILE* file, const BlockDescriptor& block,
                         const std::string& installDir, const HostRules& rules, IProgress* progress,
                         std::string* failure);

// Extracts the 'j', 'i' (when needed) and 'p' blocks into the install
// directory, each 'j'/'i' guarded by its lock file. `progress` may be null.
// A failed extraction stops the walk; failed() then says so and failure()
// holds the error line that was printed.
class PayloadHandler : public TagHandler {
 public:
  PayloadHandler(const VersionCheckHandler& versionCheck, IProgress* progress);
  bool visit(std::FILE* file, const BlockDescriptor& block) override;
  bool failed() const { return !failure_.empty(); }
  const std::string& failure() const { return failure_; }
  // Whether the failure was the archive's own bytes (data, CRC or structure
  // errors), not the disk or the permissions.
  bool dataDamaged() const;

 private:
  const VersionCheckHandler& check_;
  IProgress* progress_;
  std::string failure_;
  int result_ = 0;
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

}  // namespace kv
