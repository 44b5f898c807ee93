// The installer's version (major.minor.micro.qualifier) as found in the
// bundle's 'v' block and in an installed installer's .eclipseproduct, and
// the rule that decides whether one version is newer than another.
#pragma once

#include <optional>
#include <string>

#include "core/host_rules.h"

namespace kv {

struct InstallerVersion {
  int major = 0;
  int minor = 0;
  int micro = 0;
  std::string qualifier;  // up to the first white space
};

// The value of the first line of `text` that begins with `key` directly
// followed by "="; up to the line end (a CR right before the LF is dropped).
std::optional<std::string> getProperty(const std::string& text, const std::string& key);

// Reads property "version" as "%d.%d.%d.%s". True as soon as the property
// exists; parts that are missing stay 0 and empty.
bool parseVersion(const std::string& text, InstallerVersion& version);

// parseVersion() of the first 1024 bytes of the installed version file; false
// when it cannot be opened.
bool readInstalledVersion(const std::string& installDir, const HostRules& rules,
                          InstallerVersion& version);

// a > b: major, minor, micro as signed integers, then the qualifier byte-wise
// as unsigned characters. Equal versions are not newer.
bool isNewer(const InstallerVersion& a, const InstallerVersion& b);

}  // namespace kv
