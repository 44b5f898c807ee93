// Whether a location can run the installer: what it holds already, and what
// the bundle would bring.
#pragma once

#include <cstdio>
#include <string>

#include "core/bundle.h"
#include "core/host_rules.h"

namespace kv {

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

}  // namespace kv
