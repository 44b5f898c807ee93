// Recognises this project's launchers by the mark their image carries (a
// section of its own, base/launcher_mark.h), read from the section table of
// an ELF (32- or 64-bit) or PE image. Any other file has no mark.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace mkbundle {

struct LauncherMark {
  bool windows = false;  // a PE image
  std::string kind;      // "Linux x86-64 launcher", "Windows launcher", ...
  std::string version;   // "1.1.0"
  std::string text() const { return kind + " " + version; }
};

std::optional<LauncherMark> readLauncherMark(std::FILE* file);

// "Linux x86-64 launcher 1.1.0", or "unknown launcher (no launcher mark)".
std::string launcherDescription(const std::optional<LauncherMark>& mark);

// The refusal of a file without a mark, naming it.
std::string notALauncher(const std::string& path);

}  // namespace mkbundle
