// The few facts about the host system that the shared core needs: platform
// name, path separator, forbidden location characters, the location length
// limit and the path rules. The platform layer says which one is in force
// (hostRules() in core/platform.h); both descriptions are always compiled so
// that the Windows rules are unit-tested on Linux too.
#pragma once

#include <string>

namespace kv {

struct HostRules {
  const char* platformName;         // names the installer's folder: "x86-linux2", "x86-win32"
  const char* programSuffix;        // what the system adds to a program's name: "" or ".exe"
  char separator;                   // '/' on Linux, '\\' on Windows
  const char* forbiddenCharacters;  // in the order the rejection message lists them
  int maxLocationLength;            // 0: no limit of its own; Windows: 100
  bool windowsPaths;                // drive letters, "\\" and "//" server paths, no "~/"
  bool caseInsensitiveFileNames;    // "SETUP.LOG" and "setup.log" are the same file
  int consoleLineLimit;             // longest console answer read in one piece
  bool hasConsoleTwin;              // knows -winconsole and the console twin "setupc.exe"
  bool startsGui;                   // dialog mode needs a GUI start that may fail (GTK)
};

extern const HostRules kLinuxHost;
extern const HostRules kWindowsHost;

// Linux: begins with "/". Windows: begins with two backslashes or has ':' as
// its second character.
bool isAbsolutePath(const HostRules& rules, const std::string& path);

// A path that names the same place from any current folder and drive:
// Linux, an absolute path; Windows, "X:\" or "X:/" then anything, or two
// separators (UNC). "relinst", "Z:relinst" and "\relinst" are not.
bool isWholePath(const HostRules& rules, const std::string& path);

}  // namespace kv
