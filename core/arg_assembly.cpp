#include "core/arg_assembly.h"

#include <cstring>

#include "base/fs.h"
#include "core/dir_path.h"
#include "core/ini_file.h"
#include "core/option_scan.h"
#include "core/text_store.h"

namespace kv {
namespace {

bool equals(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

// The longest path the launcher passes on for a file it found itself.
size_t pathLimit(const HostRules& rules) { return rules.windowsPaths ? 259 : 4095; }

// Inserts an option and its value at the insertion point.
void insertPair(GrowableArgList& args, LaunchOptions& opts, const char* option,
                const std::string& value) {
  const char* pair[] = {option, keepText(value)};
  args.insert(opts.insertionPoint, 2, pair);
  opts.insertionPoint += 2;
}

}  // namespace

std::string launcherDirectory(const std::string& argv0, const HostRules& rules) {
  return launcherDirectory(argv0, rules, fs::currentDirectory());
}

std::string launcherDirectory(const std::string& argv0, const HostRules& rules,
                              const std::string& currentDir) {
  return absoluteDirectory(directoryPart(argv0, rules), rules, currentDir);
}

bool takeIniOption(std::vector<const char*>& userArgs, std::string& iniPath) {
  for (size_t i = 0; i + 1 < userArgs.size(); ++i) {
    if (userArgs[i] && equals(userArgs[i], "-ini")) {
      iniPath = userArgs[i + 1] ? userArgs[i + 1] : "";
      userArgs.erase(userArgs.begin() + i, userArgs.begin() + i + 2);
      return true;
    }
  }
  return false;
}

void splitVmArgs(GrowableArgList& args, GrowableArgList& vmArgs) {
  int at = args.find("-vmargs", 1);
  if (at < 0) return;
  for (int i = at + 1; i < args.count(); ++i) vmArgs.push(args.at(i));
  args.truncate(at);
}

void appendArguments(GrowableArgList& args, GrowableArgList& vmArgs,
                     const std::vector<std::string>& texts) {
  for (const std::string& text : texts) args.push(keepText(text));
  splitVmArgs(args, vmArgs);
}

bool appendIniArguments(GrowableArgList& args, GrowableArgList& vmArgs,
                        std::vector<const char*>& userArgs, const std::string& exePath,
                        const HostRules& rules) {
  std::vector<std::string> lines;
  std::string iniPath;
  bool read = false;
  if (takeIniOption(userArgs, iniPath)) {
    read = readIniFile(iniPath, rules, lines);
  } else {
    for (const std::string& candidate : defaultIniCandidates(exePath, rules)) {
      if (readIniFile(candidate, rules, lines)) {
        read = true;
        break;
      }
    }
  }
  if (read) appendArguments(args, vmArgs, lines);
  return read;
}

bool appendUserArguments(GrowableArgList& args, GrowableArgList& vmArgs,
                         const std::vector<const char*>& userArgs, bool windowsPrePass) {
  bool winConsole = false;
  for (const char* arg : userArgs) {
    if (windowsPrePass && isWinConsoleOption(arg)) {
      winConsole = true;
      continue;
    }
    args.push(arg);
  }
  splitVmArgs(args, vmArgs);
  return winConsole;
}

void insertConsoleSwitches(GrowableArgList& args, LaunchOptions& opts, bool withSilent) {
  const char* switches[] = {"--launcher.suppressErrors", "-nosplash", "-silent"};
  const int n = withSilent ? 3 : 2;
  args.insert(1, n, switches);
  opts.insertionPoint += n;
  opts.consoleMode = true;
}

void insertSilentForWinConsole(GrowableArgList& args, LaunchOptions& opts) {
  if (!opts.winConsole || opts.consoleMode) return;
  args.insertOne(opts.insertionPoint, "-silent");
  opts.insertionPoint += 1;
  opts.consoleMode = true;
}

void insertPromptedInstallPath(GrowableArgList& args, LaunchOptions& opts,
                               const std::string& path) {
  insertPair(args, opts, "-installpath", path);
  opts.installPath = path;
  opts.installPathGiven = true;
}

void rewriteLocations(GrowableArgList& args, LaunchOptions& opts) {
  const char* installPath = opts.installPath ? keepText(*opts.installPath) : nullptr;
  const char* downloadPath = opts.downloadPath ? keepText(*opts.downloadPath) : nullptr;
  const char* installRoot = nullptr;  // one text shared by every replacement
  bool inYum = false;

  for (int i = 1; i < args.count(); ++i) {
    const char* text = args.at(i);
    if (equals(text, "-global")) {
      inYum = false;
      continue;
    }
    if (equals(text, "-yum")) {
      inYum = true;
      continue;
    }
    if (inYum) {
      if (installPath && installRootValue(text)) {
        // The whole path, however long: a cut path would name another folder.
        if (!installRoot) installRoot = keepText(std::string(kInstallRootPrefix) + installPath);
        args.set(i, installRoot);
      }
      continue;
    }
    if (equals(text, "-download")) {
      if (downloadPath) {
        const bool last = i + 1 >= args.count();
        if (last || args.at(i + 1)[0] == '-') {
          args.insertOne(i + 1, downloadPath);
        } else {
          args.set(i + 1, downloadPath);
        }
        ++i;
      }
    } else if (equals(text, "-installpath")) {
      if (i + 1 < args.count() && installPath) {
        args.set(i + 1, installPath);
        ++i;
      }
    }
    opts.insertionPoint = i + 1;
  }
}

void addLauncherOptions(GrowableArgList& args, LaunchOptions& opts, const std::string& launcherDir,
                        const HostRules& rules) {
  const size_t limit = pathLimit(rules);
  if (!opts.sdfGiven) {
    for (const char* name : {"sdf.xml", "dvds.properties", "dvds.repos"}) {
      std::string path = childPath(launcherDir, rules, name);
      if (path.size() <= limit && fs::exists(path)) {
        insertPair(args, opts, "-sdf", path);
        break;
      }
    }
  }
  if (!opts.yumDefaultsGiven) {
    std::string path = childPath(launcherDir, rules, "yum.repos");
    if (path.size() <= limit && fs::isDirectory(path)) insertPair(args, opts, "-yumdefaults", path);
  }
  if (opts.brandingDir) {
    std::string folder = isAbsolutePath(rules, *opts.brandingDir)
                             ? *opts.brandingDir
                             : childPath(launcherDir, rules, *opts.brandingDir);
    std::string path = childPath(folder, rules, "splash.bmp");
    if (path.size() <= limit && fs::isRegularFile(path))
      insertPair(args, opts, "-showSplash", path);
  }
  if (!opts.installPathGiven && opts.installPath) {
    insertPair(args, opts, "-installPath", *opts.installPath);
  }
}

void removePatchOptions(GrowableArgList& args) {
  bool inYum = false;
  int i = 0;
  while (i < args.count()) {
    const char* text = args.at(i);
    if (equals(text, "-global")) {
      inYum = false;
    } else if (equals(text, "-yum")) {
      inYum = true;
    } else if (!inYum && equals(text, "-patch")) {
      args.erase(i, 1);
      continue;
    }
    ++i;
  }
}

void appendVmArgs(GrowableArgList& args, GrowableArgList& vmArgs) {
  if (vmArgs.count() <= 1) return;
  args.appendList(vmArgs);
  vmArgs.truncate(0);
}

}  // namespace kv
