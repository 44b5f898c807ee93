// What a launcher file is, in words for mkbundle's closing line: its kind
// ("Linux x86-64 launcher", "Windows console launcher", ...) and version.
#pragma once

#include <cstdio>
#include <string>

namespace mkbundle {

// The release of the launchers built from this source tree.
extern const char kLauncherVersion[];

// "<kind> launcher <version>", read from the ELF class and machine or the
// PE subsystem; "unknown launcher" when the file is neither.
std::string describeLauncher(std::FILE* file);

}  // namespace mkbundle
