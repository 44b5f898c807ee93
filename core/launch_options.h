// LaunchOptions: what the option scan learned from the installer's argument
// list (core/option_scan.h), later completed by the main flow with the
// settled install and download locations. Every flag starts false, every
// text starts absent; the scan section starts in the default section and the
// insertion point at 1 (just after the launcher's own path).
#pragma once

#include <optional>
#include <string>

namespace kv {

struct LaunchOptions {
  // The part of the argument list being scanned: options are lower-cased and
  // recognised in the default section; "-yum" opens the yum section, whose
  // elements pass untouched, and "-global" returns to the default section.
  enum class Section { Default, Yum };

  bool consoleMode = false;         // no dialogs; messages and prompts on the console
  bool consoleOnly = false;         // -yum, -recipe, -baseline
  bool tempInstallAllowed = false;  // -validate, -download
  std::optional<std::string> installPath;
  bool installPathGiven = false;  // from the command line or the console prompt
  bool download = false;
  std::optional<std::string> downloadPath;
  bool downloadPathGiven = false;
  bool help = false;
  bool version = false;
  bool showArgsAndExit = false;
  bool winConsole = false;  // Windows: this run is the console twin's
  bool sdfGiven = false;
  bool yumDefaultsGiven = false;
  std::optional<std::string> brandingDir;
  std::optional<std::string> productKey;
  std::optional<std::string> productFolder;
  Section section = Section::Default;  // in force at the end of the scan
  int insertionPoint = 1;              // where the launcher's own options go
  // -allowspaceininstallpath: read by the location check. One run has one
  // LaunchOptions, so it lives here rather than in a global.
  bool allowSpaceInInstallPath = false;
};

}  // namespace kv
