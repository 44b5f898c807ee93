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

LaunchOptions scanOptions(GrowableArgList& args, const std::function<void()>& onShowArgs) {
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
      const bool hasNext = i + 1 < count;
      if (std::strcmp(name, "silent") == 0) {
        opts.consoleMode = true;
      } else if (std::strcmp(name, "installpath") == 0) {
        if (hasNext) {
          opts.installPath = std::string(args.at(++i));
          opts.installPathGiven = true;
        }
      } else if (std::strcmp(name, "sdf") == 0) {
        if (hasNext) {
          ++i;
          opts.sdfGiven = true;
        }
      } else if (std::strcmp(name, "yumdefaults") == 0) {
        if (hasNext) {
          ++i;
          opts.yumDefaultsGiven = true;
        }
      } else if (std::strcmp(name, "help") == 0) {
        opts.consoleMode = true;
        opts.help = true;
      } else if (std::strcmp(name, "version") == 0) {
        opts.consoleMode = true;
        opts.version = true;
      } else if (std::strcmp(name, "validate") == 0) {
        opts.consoleMode = true;
        opts.tempInstallAllowed = true;
      } else if (std::strcmp(name, "allowspaceininstallpath") == 0) {
        opts.allowSpaceInInstallPath = true;
      } else if (std::strcmp(name, "download") == 0) {
        opts.download = true;
        opts.tempInstallAllowed = true;
        if (hasNext && args.at(i + 1)[0] != '-') {
          opts.downloadPath = std::string(args.at(++i));
          opts.downloadPathGiven = true;
        }
      } else if (std::strcmp(name, "showargsandexit") == 0) {
        opts.showArgsAndExit = true;
        if (onShowArgs) onShowArgs();
      } else if (std::strcmp(name, "recipe") == 0 || std::strcmp(name, "baseline") == 0) {
        opts.consoleMode = true;
        opts.consoleOnly = true;
      } else if (std::strcmp(name, "check") == 0) {
        opts.consoleMode = true;
      } else if (std::strcmp(name, "productid") == 0) {
        if (hasNext) {
          ProductId id = parseProductId(args.at(++i));
          if (id.key) opts.productKey = id.key;
          if (id.folder) opts.productFolder = id.folder;
        }
      } else if (std::strcmp(name, "branding") == 0) {
        // Looks at the next element without consuming it.
        if (hasNext && args.at(i + 1)[0] != '-') opts.brandingDir = std::string(args.at(i + 1));
      }
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
