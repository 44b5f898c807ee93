// Install-directory helpers: create a directory with its parents, prove that
// a location is a writable directory (probe file "setup.log", never removed
// when it was there before), and empty the installer profile directory.
#pragma once

#include <string>
#include <vector>

#include "core/host_rules.h"

namespace kv {

// The prefixes of `path` that makeDirs examines, in order, ending with the
// whole path. Backslashes count as "/"; a leading "/" never makes a prefix of
// its own; with Windows rules a "//server/share" head is examined as one.
std::vector<std::string> directoryPrefixes(const std::string& path, const HostRules& rules);

// Each prefix that cannot be opened as a directory is created
// (fs::makeFolders: one made by another process meanwhile is fine). False
// when one cannot be, with `message` (when given) set to "ERROR: directory
// %s cannot be created: %d." (the failing creation's errno value). Nothing
// is undone on failure.
bool makeDirs(const std::string& path, const HostRules& rules, std::string* message = nullptr);

// True when `path` exists (created if needed) and a file can be created in
// it; otherwise false with `message` set to "ERROR: directory %s cannot be
// created: %d.", "ERROR: %s cannot be opened." or
// "ERROR: cannot write to install directory (%s): %d.".
bool checkInstallDir(const std::string& path, const HostRules& rules, std::string* message);

// Empties the installer profile directory (fs::emptyFolderBelow): deletes,
// one at a time, its entries whose names do not begin with "." and stops at
// the first one that cannot be deleted as a file. Never follows a link: a
// link in place of the profile directory is removed as a link, a link among
// its entries is deleted itself, and a link in place of one of the folders
// between the install directory and it leaves everything as it is.
void emptyInstallerProfile(const std::string& installDir, const HostRules& rules);

}  // namespace kv
