#include "core/option_scan.h"

#include <cstring>

#include "core/text.h"
#include "core/text_store.h"

namespace kv {
namespace {

bool isProductIdCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ',' ||
         c == '.' || c == '-' || c == '_';
}

// Trims and cleans one part of a -productid value; absent when empty.
std::optional<std::string> productPart(const std::string& part) {
  size_t begin = 0;
  size_t end = part.size();
  while (begin < end && isBlank(part[begin])) ++begin;
  while (end > begin && isBlank(part[end - 1])) --end;
  if (begin == end) return std::nullopt;
  std::string cleaned = part.substr(begin, end - begin);
  for (char& c : cleaned) {
    if (!isProductIdCharacter(c)) c = '_';
  }
  return cleaned;
}

// Replaces the element by its lower-case copy when that differs; the list
// does not own its texts, so the copy goes to the text store.
void lowerInPlace(GrowableArgList& args, int index) {
  const char* text = args.at(index);
  std::string lowered(text);
  bool changed = false;
  for (char& c : lowered) {
    char l = asciiLower(c);
    if (l != c) {
      c = l;
      changed = true;
    }
  }
  if (changed) args.set(index, keepText(std::move(lowered)));
}

// Handles the yum-section element at `index`.
void scanYumElement(const char* text, LaunchOptions& opts) {
  if (const char* root = installRootValue(text)) {
    opts.installPath = std::string(root);
    opts.installPathGiven = true;
  } else if (std::strcmp(text, "--help") == 0 || std::strcmp(text, "-h") == 0) {
    opts.help = true;
  } else if (std::strcmp(text, "--version") == 0) {
    opts.version = true;
  }
}

// What a default-section option does with the element after it.
enum class Next {
  kNone,
  kTake,              // consumes it as the option's value, whatever it is
  kTakeUnlessOption,  // consumes it unless it begins with "-"
  kPeekUnlessOption,  // reads it without consuming it, unless it begins with "-"
};

void setInstallPath(const char* text, LaunchOptions& opts) {
  opts.installPath = std::string(text);
  opts.installPathGiven = true;
}
void noteSdf(const char*, LaunchOptions& opts) { opts.sdfGiven = true; }
void noteYumDefaults(const char*, LaunchOptions& opts) { opts.yumDefaultsGiven = true; }
void setDownloadPath(const char* text, LaunchOptions& opts) {
  opts.downloadPath = std::string(text);
  opts.downloadPathGiven = true;
}
void setProductId(const char* text, LaunchOptions& opts) {
  ProductId id = parseProductId(text);
  if (id.key) opts.productKey = id.key;
  if (id.folder) opts.productFolder = id.folder;
}
void setBrandingDir(const char* text, LaunchOptions& opts) { opts.brandingDir = std::string(text); }

// One default-section option the launcher acts on, named without its "-".
struct OptionRule {
  const char* name;
  bool LaunchOptions::*flags[2];  // set when the option is met
  Next next;
  void (*value)(const char* text, LaunchOptions& opts);  // given the next element
};

using O = LaunchOptions;
const OptionRule kOptionRules[] = {
    {"silent", {&O::consoleMode}, Next::kNone, nullptr},
    {"installpath", {}, Next::kTake, setInstallPath},
    {"sdf", {}, Next::kTake, noteSdf},
    {"yumdefaults", {}, Next::kTake, noteYumDefaults},
    {"help", {&O::consoleMode, &O::help}, Next::kNone, nullptr},
    {"version", {&O::consoleMode, &O::version}, Next::kNone, nullptr},
    {"validate", {&O::consoleMode, &O::tempInstallAllowed}, Next::kNone, nullptr},
    {"allowspaceininstallpath", {&O::allowSpaceInInstallPath}, Next::kNone, nullptr},
    {"download", {&O::download, &O::tempInstallAllowed}, Next::kTakeUnlessOption, setDownloadPath},
    {"showargsandexit", {&O::showArgsAndExit}, Next::kNone, nullptr},
    {"recipe", {&O::consoleMode, &O::consoleOnly}, Next::kNone, nullptr},
    {"baseline", {&O::consoleMode, &O::consoleOnly}, Next::kNone, nullptr},
    {"check", {&O::consoleMode}, Next::kNone, nullptr},
    {"productid", {}, Next::kTake, setProductId},
    {"branding", {}, Next::kPeekUnlessOption, setBrandingDir},
};

const OptionRule* ruleFor(const char* name) {
  for (const OptionRule& rule : kOptionRules) {
    if (std::strcmp(name, rule.name) == 0) return &rule;
  }
  return nullptr;
}

// Applies `rule`, met at `index`; the index of the last element it consumed.
int applyRule(const OptionRule& rule, GrowableArgList& args, int index, LaunchOptions& opts) {
  for (bool LaunchOptions::*flag : rule.flags) {
    if (flag) opts.*flag = true;
  }
  if (rule.next == Next::kNone || index + 1 >= args.count()) return index;
  const char* next = args.at(index + 1);
  if (rule.next != Next::kTake && next[0] == '-') return index;
  rule.value(next, opts);
  return rule.next == Next::kPeekUnlessOption ? index : index + 1;
}

}  // namespace

ProductId parseProductId(const std::string& value) {
  ProductId id;
  size_t colon = value.find(':');
  if (colon == std::string::npos) {
    id.key = productPart(value);
  } else {
    id.key = productPart(value.substr(0, colon));
    id.folder = productPart(value.substr(colon + 1));
  }
  return id;
}

LaunchOptions scanOptions(GrowableArgList& args) {
  LaunchOptions opts;
  const int count = args.count();
  for (int i = 1; i < count; ++i) {
    const bool inDefault = opts.section == LaunchOptions::Section::Default;
    if (inDefault && args.at(i)[0] == '-') lowerInPlace(args, i);
    const char* text = args.at(i);

    if (std::strcmp(text, "-global") == 0) {
      opts.section = LaunchOptions::Section::Default;
      continue;
    }
    if (std::strcmp(text, "-yum") == 0) {
      opts.section = LaunchOptions::Section::Yum;
      opts.consoleMode = true;
      opts.consoleOnly = true;
      continue;
    }
    if (!inDefault) {
      scanYumElement(text, opts);
      continue;
    }
    if (text[0] == '-') {
      const char* name = text + 1;
      if (name[0] == '-') {
        // "--name" is forwarded as "-name"; the shortened text is a suffix
        // of the same (process-lifetime) text.
        args.set(i, name);
        ++name;
      }
      if (const OptionRule* rule = ruleFor(name)) i = applyRule(*rule, args, i, opts);
    }
    opts.insertionPoint = i + 1;
  }
  return opts;
}

const char* installRootValue(const char* arg) {
  if (!startsWith(arg, kInstallRootPrefix)) return nullptr;
  const char* value = arg + std::strlen(kInstallRootPrefix);
  return *value != '\0' ? value : nullptr;
}

bool isWinConsoleOption(const char* arg) {
  if (arg == nullptr || arg[0] != '-') return false;
  const char* rest = arg[1] == '-' ? arg + 2 : arg + 1;
  static const char kName[] = "winconsole";
  for (size_t k = 0; k < sizeof(kName); ++k) {
    if (asciiLower(rest[k]) != kName[k]) return false;  // the terminators compare too
  }
  return true;
}

}  // namespace kv
