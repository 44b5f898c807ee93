#include "core/main_flow.h"

#include <string>
#include <vector>

#include "base/fs.h"
#include "base/progress.h"
#include "core/arg_assembly.h"
#include "core/arg_list.h"
#include "core/bundle.h"
#include "core/combined_progress.h"
#include "core/console_progress.h"
#include "core/embedded_arguments.h"
#include "core/install_check.h"
#include "core/launch_options.h"
#include "core/location.h"
#include "core/option_scan.h"
#include "core/payload_extraction.h"
#include "core/platform.h"
#include "core/release_line.h"
#include "core/temporary_folder.h"
#include "core/usage.h"
#include "core/version_check.h"

namespace kv {

namespace {

// The two argument lists live until the process ends: the listing of
// -showargsandexit reads them at exit.
GrowableArgList& installerArgs() {
  static GrowableArgList list;
  return list;
}

GrowableArgList& vmArgs() {
  static GrowableArgList list;
  return list;
}

void printError(const std::string& text) {
  std::fflush(stdout);
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

std::string damagedSetupMessage(const std::string& setupFile) {
  return "ERROR: The setup file " + setupFile +
         " is damaged or incomplete. Please download it again.\n";
}

void appendEmbeddedArguments(std::FILE* file, GrowableArgList& args, GrowableArgList& vm) {
  ArgCounter counter;
  walkBundle(file, counter);
  if (counter.count <= 0) return;
  std::vector<const char*> embedded;
  ArgFetcher fetcher(counter.count, embedded);
  walkBundle(file, fetcher);
  for (const char* text : embedded) {
    if (text) args.push(text);
  }
  splitVmArgs(args, vm);
}

// Settles the install (and download) location. False when the run ends
// here with exit code 1, its message printed.
bool settleLocations(std::FILE* file, LaunchOptions& opts, GrowableArgList& args,
                     const LocationValidator& validator, bool& guiUsed) {
  std::string out;
  std::string message;
  if (opts.consoleMode) {
    if (!opts.installPathGiven && !opts.tempInstallAllowed) {
      if (opts.consoleOnly) {
        std::optional<std::string> answer =
            promptForInstallDir(stdin, stdout, stderr, opts.installPath, validator);
        if (answer) {
          opts.installPath = *answer;
          opts.installPathGiven = true;
          insertPromptedInstallPath(args, opts, *answer);
        }
      }
      if (!opts.installPathGiven) {
        printError(opts.section == LaunchOptions::Section::Yum
                       ? "Error: --installroot= required in yum mode\n"
                       : "Error: -installPath required in silent mode\n");
        return false;
      }
    }
    if (!validator.check(opts.installPath.value_or(""), out, true, &message)) {
      printError(message + "\n");
      return false;
    }
    opts.installPath = out;
    if (opts.download) {
      if (opts.downloadPathGiven) {
        if (!validator.check(opts.downloadPath.value_or(""), out, false, &message)) {
          printError(message + "\n");
          return false;
        }
        opts.downloadPath = out;
      } else if (!opts.installPathGiven) {
        printError("Error: -download path required in silent mode\n");
        return false;
      } else {
        opts.downloadPath = opts.installPath;
      }
    }
    return true;
  }

  extractLogo(file);
  guiUsed = true;
  if (opts.download) {
    opts.downloadPath =
        selectLocation(opts.downloadPath, "Select the download location:", false, validator);
    if (opts.downloadPath) {
      if (!validator.check(opts.installPath.value_or(""), out, true, &message)) {
        printError(message + "\n");
        return false;
      }
      if (!validator.check(*opts.downloadPath, out, false, &message)) {
        printError(message + "\n");
        return false;
      }
      opts.downloadPath = out;
    }
  } else {
    opts.installPath =
        selectLocation(opts.installPath, "Select the install location:", true, validator);
  }
  return true;
}

}  // namespace

Extraction extractBundle(std::FILE* launcherFile, const std::string& setupFile,
                         const std::string& installDir, bool consoleMode) {
  // Another launcher extracting into the same directory finishes first; this
  // one then sees what it installed as current.
  fs::DirectoryLock extractionLock(installDir);
  VersionCheckHandler versionCheck(installDir, hostRules());
  if (!walkBundle(launcherFile, versionCheck)) return Extraction::kNoBundle;
  // Console runs on a terminal get a one-line indicator on standard error.
  IProgress* window = consoleMode ? consoleProgress() : createProgress();
  CombinedProgress progress(window);
  if (window) {
    PayloadFileCounter counter(versionCheck);
    walkBundle(launcherFile, counter);
    progress.setKnownTotal(counter.files);
    // The window's bar moves by bytes across every archive; the console
    // indicator keeps one line per archive, wiped before the next message.
    if (!consoleMode) progress.setKnownBytes(counter.bytes);
  }
  PayloadHandler payload(versionCheck, window ? &progress : nullptr);
  bool found = walkBundle(launcherFile, payload);
  if (window) window->finish();
  if (!found) return Extraction::kNoBundle;
  if (!payload.failed()) return Extraction::kDone;
  std::string failure = payload.failure();
  if (payload.dataDamaged()) {
    const std::string damaged = damagedSetupMessage(setupFile);
    printError(damaged);
    failure += damaged;
  }
  if (!consoleMode) showErrorBox(failure);
  return Extraction::kFailed;
}

int runLauncher(int argc, char** argv) {
  const HostRules& rules = hostRules();
  const char* argv0 = argc > 0 && argv[0] ? argv[0] : "";

  // Start-up: the launcher's own file, its folder, the two lists.
  std::string exePath = ownExecutablePath(argv0);
  FilePtr launcher = openFile(exePath, "rb");
  if (!launcher) {
    attachConsole();
    printError("Can't open setup itself.\n");
    return 1;
  }
  std::FILE* file = launcher.get();
  const std::string launcherDir = launcherDirectory(argv0, rules);
  GrowableArgList& args = installerArgs();
  GrowableArgList& vm = vmArgs();
  args.push(argv0);
  vm.push("-vmargs");

  // Arguments: embedded, .ini, the user's.
  std::vector<const char*> userArgs;
  for (int i = 1; i < argc; ++i) userArgs.push_back(argv[i]);
  appendEmbeddedArguments(file, args, vm);
  appendIniArguments(args, vm, userArgs, exePath, rules);
  bool winConsole = appendUserArguments(args, vm, userArgs, rules.hasConsoleTwin);

  // Scan and mode.
  LaunchOptions opts = scanOptions(args);
  opts.winConsole = opts.winConsole || winConsole || isConsoleTwinProgram();
  if (opts.showArgsAndExit) {
    attachConsole();
    registerListArgsAtExit(&args, &vm);
  }
  const std::string productKey = opts.productKey.value_or("");
  const std::string productFolder = opts.productFolder.value_or("");
  if (!opts.installPath) opts.installPath = readDefaultLocation(productKey, productFolder);
  if (!opts.downloadPath) opts.downloadPath = readDefaultLocation(productKey, productFolder);

  if (opts.winConsole && !opts.consoleMode) {
    insertSilentForWinConsole(args, opts);
    opts.consoleMode = true;
  }
  if (opts.consoleMode) {
    insertConsoleSwitches(args, opts, false);
  } else if (rules.startsGui) {
    std::string failure;
    if (!initGui(args, &failure)) {
      std::fputs(failure.c_str(), stdout);
      std::fflush(stdout);
      hostCheck(launcherDir);
      std::fputs("\nFalling back to text-based mode...\n", stdout);
      std::fflush(stdout);
      insertConsoleSwitches(args, opts, true);
      opts.consoleMode = true;
    }
  }

  if (opts.consoleMode) {
    if (opts.consoleOnly && !opts.winConsole) {
      int twinExitCode = 0;
      if (runConsoleTwin(twinExitCode)) return twinExitCode;
    }
    if (!attachConsole()) return 1;
  }
  if (bundleDamaged(file)) {
    const std::string text = damagedSetupMessage(exePath);
    printError(text);
    if (!opts.consoleMode) showErrorBox(text);
    return 1;
  }

  // Informational runs.
  if (opts.help || opts.version) {
    RelPrinter printer;
    walkBundle(file, printer);
    if (opts.help) {
      if (opts.section == LaunchOptions::Section::Yum) {
        printYumUsage();
      } else {
        printMainUsage();
      }
    }
    std::fflush(stdout);
    return 0;
  }

  // Location.
  TemporaryFolder temporaryFolder;
  if (opts.tempInstallAllowed && !opts.installPathGiven) {
    std::string temporary;
    if (!makeTempFolderName(temporary)) {
      printError("Error: could not create a temporary install folder.\n");
      return 1;
    }
    temporaryFolder.adopt(temporary);
    opts.installPath = temporary;
  }
  LocationValidator validator(file, rules, opts.allowSpaceInInstallPath, homeDirectory());
  bool guiUsed = false;
  if (!settleLocations(file, opts, args, validator, guiUsed)) return 1;
  if (!opts.installPath || (opts.download && !opts.downloadPath)) return 0;
  const std::string installDir = *opts.installPath;
  if (!opts.tempInstallAllowed) writeDefaultLocation(productKey, installDir);

  // Extraction. A failed one leaves its lock file for the next run and
  // never starts the installer from a half-written tree.
  const Extraction extraction = extractBundle(file, exePath, installDir, opts.consoleMode);
  if (extraction == Extraction::kFailed) return 1;
  if (extraction == Extraction::kNoBundle) {
    if (canRunInstaller(file, installDir, rules)) {
      std::printf("Warning: Could not extract installer payload. Using %s as fall-back\n",
                  installDir.c_str());
    } else {
      printError("Error: extracting content failed.\n");
      return 1;
    }
  }

  // The installer's arguments, complete.
  if (opts.download || opts.installPathGiven) rewriteLocations(args, opts);
  addLauncherOptions(args, opts, launcherDir, rules);
  InstallCheckHandler patchCheck(installDir, rules);
  if (!patchCheck.supportsPatch) removePatchOptions(args);
  appendVmArgs(args, vm);
  if (opts.showArgsAndExit) return 0;

  // Launch.
  std::printf("Launching installer...\n");
  std::fflush(stdout);
  const bool temporary = opts.tempInstallAllowed && !opts.installPathGiven;
  const bool wait = temporary || opts.winConsole;
  int result = launchInstaller(installDir, args, opts.consoleMode, wait);
  if (temporary && !temporaryFolder.remove()) {
    std::printf("Failed to clean temporary files.\n");
    std::fflush(stdout);
  }
  if (guiUsed) removeLogoFile();
  return result;
}

}  // namespace kv
