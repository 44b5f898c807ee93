// Assembly of the installer's argument list: the launcher directory, the
// sources appended in order (embedded arguments, .ini lines, the user's
// arguments), the split of everything from "-vmargs" on into the VM list,
// and the edits after the option scan: console switches, the prompted install
// path, the rewrite of the location arguments, the launcher's own options,
// the "-patch" filter and the final join with the VM list. Every text put
// into a list lives until the process ends (core/text_store.h).
#pragma once

#include <string>
#include <vector>

#include "core/arg_list.h"
#include "core/host_rules.h"
#include "core/launch_options.h"

namespace kv {

// The absolute folder of the launcher as started: the directory part of
// argv0 without a trailing separator, made absolute against the current
// directory ("." becomes the current directory alone).
std::string launcherDirectory(const std::string& argv0, const HostRules& rules);
std::string launcherDirectory(const std::string& argv0, const HostRules& rules,
                              const std::string& currentDir);

// Takes the first exact "-ini" that has at least one argument after it out
// of `userArgs` (the arguments after the program path), together with that
// argument, which goes to `iniPath`. False, and nothing changed, otherwise.
bool takeIniOption(std::vector<const char*>& userArgs, std::string& iniPath);

// Moves everything after the first exact "-vmargs" (from index 1 on) to the
// end of `vmArgs` and removes that "-vmargs" and its tail from `args`.
void splitVmArgs(GrowableArgList& args, GrowableArgList& vmArgs);

// Appends copies of `texts` (kept for the whole process), then splits.
void appendArguments(GrowableArgList& args, GrowableArgList& vmArgs,
                     const std::vector<std::string>& texts);

// The .ini step: reads the file named by a "-ini" pair in `userArgs` (and
// takes the pair out), else the first default .ini of exePath that can be
// read, and appends its lines. False when no file was read.
bool appendIniArguments(GrowableArgList& args, GrowableArgList& vmArgs,
                        std::vector<const char*>& userArgs, const std::string& exePath,
                        const HostRules& rules);

// The user step: appends `userArgs`, then splits. With windowsPrePass, an
// argument accepted by isWinConsoleOption is left out; returns whether one
// was.
bool appendUserArguments(GrowableArgList& args, GrowableArgList& vmArgs,
                         const std::vector<const char*>& userArgs, bool windowsPrePass);

// Console switches: "--launcher.suppressErrors", "-nosplash" and, with
// withSilent (the fall-back from the GUI), "-silent" at index 1; the
// insertion point grows by 2 or 3 and consoleMode is set.
void insertConsoleSwitches(GrowableArgList& args, LaunchOptions& opts, bool withSilent);

// winConsole without consoleMode: "-silent" at the insertion point, which
// grows by 1, and consoleMode is set. Otherwise nothing.
void insertSilentForWinConsole(GrowableArgList& args, LaunchOptions& opts);

// The install path answered at the console prompt: "-installpath" and the
// path at the insertion point, which grows by 2; installPath takes the path
// and installPathGiven is set.
void insertPromptedInstallPath(GrowableArgList& args, LaunchOptions& opts, const std::string& path);

// The rewrite pass, run after extraction with download or installPathGiven:
// in the yum section each "--installroot=<something>" becomes
// "--installroot=" + installPath; in the default section the value after
// "-download" is replaced by downloadPath (inserted when "-download" is last
// or followed by an option) and the value after "-installpath" by
// installPath. The insertion point becomes the index after the last
// default-section element. Absent paths leave their elements alone.
void rewriteLocations(GrowableArgList& args, LaunchOptions& opts);

// The launcher's own options, each pair at the insertion point (which grows
// by 2): "-sdf" with the first existing of sdf.xml, dvds.properties,
// dvds.repos in launcherDir (unless sdfGiven); "-yumdefaults" with the
// yum.repos folder (unless yumDefaultsGiven); "-showSplash" with the
// splash.bmp regular file under brandingDir (relative to launcherDir unless
// absolute); "-installPath" with installPath (unless installPathGiven).
// A composed file path longer than the host's path limit (259 characters on
// Windows, 4095 on Linux) is not offered at all, rather than cut into a
// path that names something else.
void addLauncherOptions(GrowableArgList& args, LaunchOptions& opts, const std::string& launcherDir,
                        const HostRules& rules);

// Erases every "-patch" that stands in a default section: the walk starts at
// index 0 in the default section, "-global" and "-yum" switch sections;
// compares exactly.
void removePatchOptions(GrowableArgList& args);

// When `vmArgs` holds more than its leading "-vmargs", appends all of it to
// `args` and empties it.
void appendVmArgs(GrowableArgList& args, GrowableArgList& vmArgs);

}  // namespace kv
