#include "core/location.h"

#include <cstring>
#include <vector>

#include "core/install_check.h"
#include "core/install_dir.h"
#include "core/install_layout.h"
#include "core/platform.h"
#include "core/text.h"

namespace kv {

namespace {

std::string invalidCharactersMessage(const HostRules& rules, bool allowSpace) {
  std::string text =
      "Your installation could not be completed because the location you specified includes "
      "invalid characters.\nThe installation path may not contain the following characters:\n";
  text += rules.forbiddenCharacters;
  if (!allowSpace) text += "<space>";
  return text;
}

std::string tooLongMessage(int limit) {
  return "Your installation could not be completed because the location you specified has more "
         "than " +
         std::to_string(limit) + " characters.";
}

}  // namespace

int maxLocationLength(const HostRules& rules) {
  if (rules.maxLocationLength > 0) return rules.maxLocationLength;
  // What the launcher appends to the location to reach the installer, whose
  // path launchInstaller() refuses beyond kMaxTextLength.
  const std::string tail = installerExecutablePath("", rules);
  return static_cast<int>(kMaxTextLength) - static_cast<int>(tail.size());
}

LocationValidator::LocationValidator(std::FILE* launcherFile, const HostRules& rules,
                                     bool allowSpace, std::string home)
    : launcherFile_(launcherFile), rules_(rules), allowSpace_(allowSpace), home_(std::move(home)) {}

bool LocationValidator::checkCharacters(const std::string& path, std::string* message) const {
  bool bad = path.find_first_of(rules_.forbiddenCharacters) != std::string::npos;
  if (!allowSpace_ && path.find(' ') != std::string::npos) bad = true;
  if (bad) {
    *message = invalidCharactersMessage(rules_, allowSpace_);
    return false;
  }
  return true;
}

bool LocationValidator::canRunInstaller(const std::string& path) const {
  return kv::canRunInstaller(launcherFile_, path, rules_);
}

bool LocationValidator::check(const std::string& original, std::string& out, bool requireProducts,
                              std::string* message) const {
  std::string path = original;
  // A relative or drive-relative Windows location is made whole first, so
  // that what is checked, remembered and passed on names one place.
  if (rules_.windowsPaths && !path.empty() && !isWholePath(rules_, path)) {
    const std::string whole = wholePath(path);
    if (!whole.empty()) path = whole;
  }
  if (!rules_.windowsPaths) {
    if (path.compare(0, 2, "~/") == 0) path = home_ + path.substr(1);
    if (path.empty() || path[0] != '/') {
      *message = "ERROR: " + path + " is an invalid path.";
      return false;
    }
  }
  if (!checkCharacters(path, message)) return false;
  int limit = maxLocationLength(rules_);
  if (static_cast<int>(path.size()) > limit) {
    *message = tooLongMessage(limit);
    return false;
  }
  if (requireProducts && !canRunInstaller(path)) {
    *message = "Error: KV installer can't run; this location contains no Korvane products.\n";
    return false;
  }
  out = path;
  return checkInstallDir(out, rules_, message);
}

std::optional<std::string> promptForInstallDir(std::FILE* in, std::FILE* out, std::FILE* err,
                                               std::optional<std::string> defaultLocation,
                                               const LocationValidator& validator) {
  if (defaultLocation)
    std::fprintf(out, "Default install directory: %s\n", defaultLocation->c_str());
  // Longer lines are read in pieces, each piece an answer of its own.
  std::vector<char> buffer(static_cast<size_t>(validator.rules().consoleLineLimit));
  for (;;) {
    std::fputs(defaultLocation ? "Enter install directory or press enter\n>"
                               : "Enter install directory\n>",
               out);
    std::fflush(out);
    if (!std::fgets(buffer.data(), static_cast<int>(buffer.size()), in)) return std::nullopt;

    std::string answer(buffer.data());
    while (!answer.empty() && isBlank(answer.back())) answer.pop_back();
    size_t first = 0;
    while (first < answer.size() && isBlank(answer[first])) ++first;
    answer.erase(0, first);

    bool fromDefault = false;
    if (answer.empty() && defaultLocation) {
      answer = *defaultLocation;
      fromDefault = true;
    }
    if (answer.empty()) continue;

    std::string checked;
    std::string message;
    if (!validator.check(answer, checked, true, &message)) {
      std::fflush(out);
      std::fprintf(err, "%s\n", message.c_str());
      std::fflush(err);
      if (fromDefault) defaultLocation.reset();
      continue;
    }
    return checked;
  }
}

}  // namespace kv
