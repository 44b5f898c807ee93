// Where things lie inside an install directory, spelled out here only:
//
//   maintenance/kvInstaller/<platform>/            the installer's folder
//       <installer program>                        kvInstaller, kvInstaller.exe
//       .eclipseproduct                            its version
//       jre/<release>/COPYRIGHT                    the Java runtime's marker
//       kvProfiles/Installer.<platform>.profile/   its profile, emptied on extraction
//   jre/1.6.0_06/<platform>/                       a runtime of older releases
//   .installerLock, .jreLock                       an extraction under way
//
// <platform> is the host's platform name ("x86-linux2", "x86-win32").
// Paths are joined with "/" unless a function says otherwise; the install
// directory is taken as given.
#pragma once

#include <string>
#include <vector>

#include "core/host_rules.h"

namespace kv {

// The installer's folder, joined with `separator`.
std::string installerFolder(const std::string& installDir, const HostRules& rules,
                            char separator = '/');
std::string installerExecutablePath(const std::string& installDir, const HostRules& rules);
// The installer's version file (its "version=" line).
std::string installedVersionFile(const std::string& installDir, const HostRules& rules);

// The folder names from the install directory down to the installer's
// profile, and the profile folder joined with the host's separator.
std::vector<std::string> installerProfileFolders(const HostRules& rules);
std::string installerProfileDirectory(const std::string& installDir, const HostRules& rules);

std::string jreDirectoryPath(const std::string& installDir, const HostRules& rules);
std::string olderJreDirectoryPath(const std::string& installDir, const HostRules& rules);
// A file that is there once the bundled runtime has been extracted.
std::string jreMarkerPath(const std::string& installDir, const HostRules& rules);

std::string installerLockPath(const std::string& installDir);
std::string jreLockPath(const std::string& installDir);
// Whether an archive entry (components joined with "/" or the host's
// separator) would take the place of a lock file, or lie below one: its
// first component, past "" and ".", names one.
bool entryTakesLockPlace(const std::string& entryName, const HostRules& rules);

// The Windows installer program ("kvInstaller") or its console twin
// ("kvInstallerc"), joined with "\", without the ".exe" the system adds.
std::string installerProgramPath(const std::string& installDir, bool consoleMode);

}  // namespace kv
