// The .ini file beside the launcher: one installer argument per line. Lines
// are trimmed of white space (a CR before the newline included), blank lines
// and lines whose first non-blank character is '#' are skipped, and the
// first "${iniloc}" in a line becomes the absolute folder of the file. Lines
// may be of any length.
#pragma once

#include <string>
#include <vector>

#include "core/host_rules.h"

namespace kv {

// The .ini name for a launcher path: a trailing ".exe" (lower case) becomes
// ".ini"; otherwise, when the path has a '_' with no '/' after the last one,
// everything from that '_' on becomes ".ini"; otherwise ".ini" is appended.
// Only '/' counts as a separator here.
std::string iniNameFor(const std::string& path);

// Reads the arguments of one .ini file into `lines` (replacing its content).
// False, with `lines` empty, for an empty path and for a file that cannot be
// opened or read (a directory included). Failures print nothing.
bool readIniFile(const std::string& path, const HostRules& rules, std::vector<std::string>& lines);

// The same with the folder that replaces "${iniloc}" given, for tests and
// callers that already know it.
bool readIniFile(const std::string& path, const std::string& iniDirectory,
                 std::vector<std::string>& lines);

// The absolute folder of an .ini path, the text that replaces "${iniloc}".
std::string iniDirectoryFor(const std::string& path, const HostRules& rules,
                            const std::string& currentDir);

// The two default .ini names tried in order for the launcher executable
// path: iniNameFor(exePath), then iniNameFor(folder + ".." + sep +
// "installer_customization" + sep + file name), where folder is exePath up
// to and including its last '\' or '/'. Without any separator in exePath the
// second name equals the first.
std::vector<std::string> defaultIniCandidates(const std::string& exePath, const HostRules& rules);

}  // namespace kv
