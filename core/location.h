// Validation of install and download locations, and the console prompt
// that asks for an install directory. Every location a run uses passes
// LocationValidator::check(): Linux "~/" expansion and the absolute-path
// rule, forbidden characters (and the space unless allowed), the length
// limit, whether the location can run the installer, and finally the
// install-directory check, which creates the directory.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "core/host_rules.h"

namespace kv {

class LocationValidator {
 public:
  LocationValidator(std::FILE* launcherFile, const HostRules& rules, bool allowSpace,
                    std::string home);

  // True when `path` is good; `out` then holds the location to use from now
  // on (after "~/" expansion). Otherwise false with `message` set to the
  // message to show.
  bool check(const std::string& path, std::string& out, bool requireProducts,
             std::string* message) const;

  // Only the forbidden-character rule (used by the folder choosers), in the
  // same shape.
  bool checkCharacters(const std::string& path, std::string* message) const;

  bool canRunInstaller(const std::string& path) const;

  const HostRules& rules() const { return rules_; }

 private:
  std::FILE* launcherFile_;
  const HostRules& rules_;
  bool allowSpace_;
  std::string home_;
};

// The longest location the Linux launcher accepts: the installer's path
// inside it may not exceed kMaxTextLength (core/text.h).
int maxLocationLength(const HostRules& rules);

// The console prompt. Shows `defaultLocation` (when there is one), asks until
// an answer passes validator.check(answer, out, true, ...) or input ends.
// Returns the accepted (checked) location, or none at end of input.
std::optional<std::string> promptForInstallDir(std::FILE* in, std::FILE* out, std::FILE* err,
                                               std::optional<std::string> defaultLocation,
                                               const LocationValidator& validator);

}  // namespace kv
