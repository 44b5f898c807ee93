// Whether the installer and the Java runtime in an install directory are
// current: compares the bundle's 'v' block with the installed version file,
// and treats a lock file left by an interrupted extraction as "missing".
#pragma once

#include <cstdio>
#include <string>

#include "core/bundle.h"
#include "core/host_rules.h"

namespace kv {

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

}  // namespace kv
