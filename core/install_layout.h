// Where things lie inside an install directory, spelled out here only, for
// the launcher and for mkbundle, which checks that a bundle's archives
// follow it:
//
//   maintenance/kvInstaller/<platform>/            the installer's folder
//       kvInstaller<suffix>                        its program
//       kvInstallerc<suffix>                       its console twin (hosts that have one)
//       .eclipseproduct                            its version
//       jre/<release>/COPYRIGHT                    the Java runtime's marker
//   maintenance/kvInstaller/kvProfiles/Installer.<platform>.profile/
//                                                  its profile, emptied on extraction
//   jre/1.6.0_06/<platform>/                       a runtime of older releases
//   .installerLock, .jreLock                       an extraction under way
//
// <platform> and <suffix> are the host's (core/host_rules.h): "x86-linux2"
// and "", "x86-win32" and ".exe". Names are joined with "/" on both hosts;
// only installerProgramPath() speaks the host's separator, for the command
// line that starts the installer. The install directory is taken as given.
#pragma once

#include <string>
#include <vector>

#include "core/host_rules.h"

namespace kv {

// Paths relative to the install directory, as an archive's entries name them.
namespace layout {

extern const char kInstallerLock[];  // ".installerLock"
extern const char kJreLock[];        // ".jreLock"

std::string installerFolder(const HostRules& rules);
// The program the launcher starts, or its console twin.
std::string installerProgram(const HostRules& rules, bool consoleTwin = false);
// The installer's version file (its "version=" line).
std::string versionFile(const HostRules& rules);
std::string jreFolder(const HostRules& rules);
std::string olderJreFolder(const HostRules& rules);
// A file that is there once the bundled runtime has been extracted.
std::string jreMarker(const HostRules& rules);

}  // namespace layout

// The folder names from the install directory down to the installer's profile.
std::vector<std::string> installerProfileFolders(const HostRules& rules);

// The same paths inside `installDir`: installDir + "/" + the relative path.
std::string installerFolder(const std::string& installDir, const HostRules& rules);
std::string installerExecutablePath(const std::string& installDir, const HostRules& rules);
std::string installedVersionFile(const std::string& installDir, const HostRules& rules);
std::string jreDirectoryPath(const std::string& installDir, const HostRules& rules);
std::string olderJreDirectoryPath(const std::string& installDir, const HostRules& rules);
std::string jreMarkerPath(const std::string& installDir, const HostRules& rules);
std::string installerLockPath(const std::string& installDir);
std::string jreLockPath(const std::string& installDir);

// The installer program (or its console twin) as the command line that
// starts it names it: joined with the host's separator, without the suffix
// the system adds ("C:\kv\maintenance\kvInstaller\x86-win32\kvInstallerc").
std::string installerProgramPath(const std::string& installDir, const HostRules& rules,
                                 bool consoleTwin);

// Whether an archive entry (components joined with "/" or the host's
// separator) would take the place of a lock file, or lie below one: its
// first component, past "" and ".", names one.
bool entryTakesLockPlace(const std::string& entryName, const HostRules& rules);

}  // namespace kv
