// The option scan: reads the installer's argument list (element 0 is the
// launcher's own path and is skipped) and records the few options the
// launcher acts on. It never adds or removes elements, but it edits them in
// place: in the default section an element beginning with "-" is lower-cased
// as a whole, and a leading "--" is shortened to "-". Unknown options and
// plain arguments are accepted and forwarded; the scan cannot fail.
#pragma once

#include <string>

#include "core/arg_list.h"
#include "core/launch_options.h"

namespace kv {

// Scans `args` into a fresh LaunchOptions (winConsole is left false: the
// Windows pre-pass sets it).
LaunchOptions scanOptions(GrowableArgList& args);

// The Windows pre-pass test: skips one leading "-", or two when the second
// character is also "-", and compares the rest with "winconsole" ignoring
// case. An argument without a leading "-" never matches.
bool isWinConsoleOption(const char* arg);

// The yum section's install root: "--installroot=" followed by a path. The
// path of such an element, or null when `arg` is none or its path is empty.
constexpr char kInstallRootPrefix[] = "--installroot=";
const char* installRootValue(const char* arg);

// The -productid value split into key and folder: the text before the first
// ':' and the text after it, each trimmed of white space, with every
// character other than ASCII letters, digits and ",.-_" replaced by '_'.
// A part that is missing or empty after trimming is left absent.
struct ProductId {
  std::optional<std::string> key;
  std::optional<std::string> folder;
};
ProductId parseProductId(const std::string& value);

}  // namespace kv
