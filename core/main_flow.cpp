#include "core/main_flow.h"

#include <optional>
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
#include "core/release_line.h"
#include "core/temporary_folder.h"
#include "core/usage.h"
#include "core/version_check.h"

namespace kv {

namespace {

// What a step decides: nothing while the run goes on, else the exit code
// the run ends with.
using Ending = std::optional<int>;

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

// One run's state, from start-up to the launch.
struct Run {
  Run(RunHost& runHost, int argc, char** argv)
      : host(runHost),
        rules(runHost.rules()),
        argv0(argc > 0 && argv[0] ? argv[0] : ""),
        userArgs(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0)),
        args(installerArgs()),
        vm(vmArgs()) {}

  std::FILE* file() const { return launcher.get(); }
  // A temporary install: its folder goes after the installer has ended, and
  // its location is never remembered.
  bool temporaryInstall() const { return opts.tempInstallAllowed && !opts.installPathGiven; }

  RunHost& host;
  const HostRules& rules;
  const char* argv0;
  std::vector<const char*> userArgs;  // argv[1] on, until the .ini step takes "-ini"
  std::string exePath;
  std::string launcherDir;
  FilePtr launcher;  // the launcher's own file, shared by every walk
  GrowableArgList& args;
  GrowableArgList& vm;
  LaunchOptions opts;
  TemporaryFolder temporaryFolder;
  std::string installDir;  // once the location is settled
};

void printError(const std::string& text) {
  std::fflush(stdout);
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

std::string damagedSetupMessage(const std::string& setupFile) {
  return "ERROR: The setup file " + setupFile +
         " is damaged or incomplete. Please download it again.\n";
}

// Own file: opened once, kept open for every walk; and the folder it was
// started from.
bool openOwnFile(Run& run) {
  run.exePath = run.host.ownExecutablePath(run.argv0);
  run.launcher = openFile(run.exePath, "rb");
  if (!run.launcher) {
    run.host.attachConsole();
    printError("Can't open setup itself.\n");
    return false;
  }
  run.launcherDir = launcherDirectory(run.argv0, run.rules);
  return true;
}

void appendEmbeddedArguments(Run& run) {
  ArgCounter counter;
  walkBundle(run.file(), counter);
  if (counter.count <= 0) return;
  std::vector<const char*> embedded;
  ArgFetcher fetcher(counter.count, embedded);
  walkBundle(run.file(), fetcher);
  for (const char* text : embedded) {
    if (text) run.args.push(text);
  }
  splitVmArgs(run.args, run.vm);
}

// Arguments: embedded, .ini, the user's, into lists started afresh.
// Whether the user's held the Windows console option.
bool gatherArguments(Run& run) {
  run.args.truncate(0);
  run.vm.truncate(0);
  run.args.push(run.argv0);
  run.vm.push("-vmargs");
  appendEmbeddedArguments(run);
  appendIniArguments(run.args, run.vm, run.userArgs, run.exePath, run.rules);
  return appendUserArguments(run.args, run.vm, run.userArgs, run.rules.hasConsoleTwin);
}

// Options: the scan, and the remembered location for what it left open.
void scanArguments(Run& run, bool winConsole) {
  run.opts = scanOptions(run.args);
  run.opts.winConsole = run.opts.winConsole || winConsole || run.host.isConsoleTwinProgram();
  if (run.opts.showArgsAndExit) {
    run.host.attachConsole();
    registerListArgsAtExit(&run.args, &run.vm);
  }
  LaunchOptions& opts = run.opts;
  const std::string productKey = opts.productKey.value_or("");
  const std::string productFolder = opts.productFolder.value_or("");
  if (!opts.installPath) opts.installPath = run.host.readDefaultLocation(productKey, productFolder);
  if (!opts.downloadPath)
    opts.downloadPath = run.host.readDefaultLocation(productKey, productFolder);
}

// Console or dialogs: a GUI that cannot start leaves the run in console mode.
void settleMode(Run& run) {
  insertSilentForWinConsole(run.args, run.opts);
  if (run.opts.consoleMode) {
    insertConsoleSwitches(run.args, run.opts, false);
    return;
  }
  if (!run.rules.startsGui) return;
  std::string failure;
  if (run.host.initGui(run.args, &failure)) return;
  std::fputs(failure.c_str(), stdout);
  std::fflush(stdout);
  run.host.hostCheck(run.launcherDir);
  std::fputs("\nFalling back to text-based mode...\n", stdout);
  std::fflush(stdout);
  insertConsoleSwitches(run.args, run.opts, true);
}

// A console run borrows the starting process's console, or hands the whole
// run to the console twin.
Ending startConsole(Run& run) {
  if (!run.opts.consoleMode) return std::nullopt;
  if (run.opts.consoleOnly && !run.opts.winConsole) {
    int twinExitCode = 0;
    if (run.host.runConsoleTwin(twinExitCode)) return twinExitCode;
  }
  if (!run.host.attachConsole()) return 1;
  return std::nullopt;
}

// A damaged setup file, -help and -version end the run before any location.
Ending endEarly(Run& run) {
  if (bundleDamaged(run.file())) {
    const std::string text = damagedSetupMessage(run.exePath);
    printError(text);
    if (!run.opts.consoleMode) run.host.showErrorBox(text);
    return 1;
  }
  if (!run.opts.help && !run.opts.version) return std::nullopt;
  RelPrinter printer;
  walkBundle(run.file(), printer);
  if (run.opts.help) {
    if (run.opts.section == LaunchOptions::Section::Yum) {
      printYumUsage();
    } else {
      printMainUsage();
    }
  }
  std::fflush(stdout);
  return 0;
}

// A location checked by `validator`, or false with its message printed.
bool checkLocation(const LocationValidator& validator, std::optional<std::string>& location,
                   bool requireProducts) {
  std::string checked;
  std::string message;
  if (!validator.check(location.value_or(""), checked, requireProducts, &message)) {
    printError(message + "\n");
    return false;
  }
  location = checked;
  return true;
}

// Console: the install path comes from the command line or, for the console
// only options, from the prompt; the download path defaults to it.
bool settleConsoleLocations(Run& run, const LocationValidator& validator) {
  LaunchOptions& opts = run.opts;
  if (!opts.installPathGiven && !opts.tempInstallAllowed) {
    if (opts.consoleOnly) {
      std::optional<std::string> answer =
          promptForInstallDir(stdin, stdout, stderr, opts.installPath, validator);
      if (answer) insertPromptedInstallPath(run.args, opts, *answer);
    }
    if (!opts.installPathGiven) {
      printError(opts.section == LaunchOptions::Section::Yum
                     ? "Error: --installroot= required in yum mode\n"
                     : "Error: -installPath required in silent mode\n");
      return false;
    }
  }
  if (!checkLocation(validator, opts.installPath, true)) return false;
  if (!opts.download) return true;
  if (opts.downloadPathGiven) return checkLocation(validator, opts.downloadPath, false);
  if (!opts.installPathGiven) {
    printError("Error: -download path required in silent mode\n");
    return false;
  }
  opts.downloadPath = opts.installPath;
  return true;
}

// Dialogs: the location dialog asks for the download or the install
// location; a cancelled dialog leaves it absent.
bool settleDialogLocations(Run& run, const LocationValidator& validator) {
  LaunchOptions& opts = run.opts;
  run.host.extractLogo(run.file());
  if (!opts.download) {
    opts.installPath =
        run.host.selectLocation(opts.installPath, "Select the install location:", true, validator);
    return true;
  }
  opts.downloadPath =
      run.host.selectLocation(opts.downloadPath, "Select the download location:", false, validator);
  if (!opts.downloadPath) return true;
  std::optional<std::string> installPath = opts.installPath;
  return checkLocation(validator, installPath, true) &&
         checkLocation(validator, opts.downloadPath, false);
}

// Location: a temporary folder, the command line, the prompt or the dialog;
// checked, then remembered unless temporary. A cancelled dialog ends the run
// with 0.
Ending settleLocation(Run& run) {
  LaunchOptions& opts = run.opts;
  if (run.temporaryInstall()) {
    std::string temporary;
    if (!run.host.makeTempFolderName(temporary)) {
      printError("Error: could not create a temporary install folder.\n");
      return 1;
    }
    run.temporaryFolder.adopt(temporary);
    opts.installPath = temporary;
  }
  LocationValidator validator(run.file(), run.rules, opts.allowSpaceInInstallPath,
                              run.host.homeDirectory());
  const bool settled = opts.consoleMode ? settleConsoleLocations(run, validator)
                                        : settleDialogLocations(run, validator);
  if (!settled) return 1;
  if (!opts.installPath || (opts.download && !opts.downloadPath)) return 0;
  run.installDir = *opts.installPath;
  if (!opts.tempInstallAllowed) {
    run.host.writeDefaultLocation(opts.productKey.value_or(""), run.installDir);
  }
  return std::nullopt;
}

// Extraction. A failed one leaves its lock file for the next run and never
// starts the installer from a half-written tree; a bundle-less launcher
// starts what the location holds.
Ending extractInto(Run& run) {
  const Extraction extraction =
      extractBundle(run.file(), run.exePath, run.installDir, run.opts.consoleMode, run.host);
  if (extraction == Extraction::kFailed) return 1;
  if (extraction == Extraction::kDone) return std::nullopt;
  if (!canRunInstaller(run.file(), run.installDir, run.rules)) {
    printError("Error: extracting content failed.\n");
    return 1;
  }
  std::printf("Warning: Could not extract installer payload. Using %s as fall-back\n",
              run.installDir.c_str());
  return std::nullopt;
}

// The installer's arguments, complete.
void completeArguments(Run& run) {
  if (run.opts.download || run.opts.installPathGiven) rewriteLocations(run.args, run.opts);
  addLauncherOptions(run.args, run.opts, run.launcherDir, run.rules);
  InstallCheckHandler patchCheck(run.installDir, run.rules);
  if (!patchCheck.supportsPatch) removePatchOptions(run.args);
  appendVmArgs(run.args, run.vm);
}

// Launch. The launcher waits for the installer of a temporary install to
// remove the folder afterwards (and the Windows host for every console run).
int launch(Run& run) {
  std::printf("Launching installer...\n");
  std::fflush(stdout);
  const bool temporary = run.temporaryInstall();
  const int result =
      run.host.launchInstaller(run.installDir, run.args, run.opts.consoleMode, temporary);
  if (temporary && !run.temporaryFolder.remove()) {
    std::printf("Failed to clean temporary files.\n");
    std::fflush(stdout);
  }
  return result;
}

}  // namespace

Extraction extractBundle(std::FILE* launcherFile, const std::string& setupFile,
                         const std::string& installDir, bool consoleMode, RunHost& host) {
  // Another launcher extracting into the same directory finishes first; this
  // one then sees what it installed as current.
  fs::DirectoryLock extractionLock(installDir);
  VersionCheckHandler versionCheck(installDir, host.rules());
  if (!walkBundle(launcherFile, versionCheck)) return Extraction::kNoBundle;
  // Console runs on a terminal get a one-line indicator on standard error.
  IProgress* window = consoleMode ? consoleProgress() : host.createProgress();
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
  if (!consoleMode) host.showErrorBox(failure);
  return Extraction::kFailed;
}

int runLauncher(int argc, char** argv) { return runLauncher(argc, argv, platformHost()); }

int runLauncher(int argc, char** argv, RunHost& host) {
  Run run(host, argc, argv);
  if (!openOwnFile(run)) return 1;
  scanArguments(run, gatherArguments(run));
  settleMode(run);
  if (Ending end = startConsole(run)) return *end;
  if (Ending end = endEarly(run)) return *end;
  if (Ending end = settleLocation(run)) return *end;
  if (Ending end = extractInto(run)) return *end;
  completeArguments(run);
  if (run.opts.showArgsAndExit) return 0;
  return launch(run);
}

}  // namespace kv
