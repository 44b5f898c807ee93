// The mark every launcher image carries, so that mkbundle can tell this
// project's launchers from any other program: a section of its own,
// kLauncherMarkSection, holding "kvLauncherMark/<kind>/<version>" and a NUL.
// Each program entry defines it with KV_LAUNCHER_MARK(kind).
#pragma once

// The launchers' version, carried in the mark.
#define KV_VERSION "1.1.0"

#define KV_LAUNCHER_MARK_PREFIX "kvLauncherMark/"

// Defines the mark; `used` keeps it when nothing refers to it.
#define KV_LAUNCHER_MARK(kind)                                                   \
  extern "C" {                                                                   \
  __attribute__((used, section(".kvmark"))) extern const char kvLauncherMark[] = \
      KV_LAUNCHER_MARK_PREFIX kind "/" KV_VERSION;                               \
  }

namespace kv {

constexpr char kLauncherMarkSection[] = ".kvmark";
constexpr char kLauncherMarkPrefix[] = KV_LAUNCHER_MARK_PREFIX;

// The kinds of launcher a mark names.
constexpr char kLinux64Launcher[] = "Linux x86-64 launcher";
constexpr char kLinux32Launcher[] = "Linux i386 launcher";
constexpr char kWindowsLauncher[] = "Windows launcher";
constexpr char kWindowsConsoleLauncher[] = "Windows console launcher";

}  // namespace kv
