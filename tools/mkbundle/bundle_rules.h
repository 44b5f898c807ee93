// The rules a bundle must meet for the launcher to install it, checked
// across its blocks: the version block, the installer's layout for the
// launcher's platform, the installed-version file, the runtime and its
// marker, the logo, and what each archive's check found. Used before a
// bundle is written and by --verify.
#pragma once

#include <string>
#include <vector>

#include "core/host_rules.h"
#include "tools/mkbundle/archive_check.h"

namespace mkbundle {

struct Finding {
  bool refusal = true;  // else a warning
  std::string text;
};

struct BundleArchive {
  char tag = 0;
  std::string label;  // names the source in messages
  const ArchiveInfo* info = nullptr;
};

struct BundleContent {
  const kv::HostRules* host = &kv::kLinuxHost;
  bool hasVersion = false;
  std::string versionLabel;
  std::string versionText;  // the block's bytes
  bool hasLogo = false;
  std::string logoLabel;
  std::string logoHead;  // the first bytes of the logo
  std::vector<BundleArchive> archives;
};

std::vector<Finding> checkBundle(const BundleContent& bundle);

// "%d.%d.%d.%s" with a qualifier: the launcher's version format.
bool isVersionFormat(const std::string& version);

}  // namespace mkbundle
