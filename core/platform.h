// The operations through which the shared core reaches the host. Declared
// once here, defined once per build (platform/linux/, platform/windows/).
// Texts are returned as values owned by the caller.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "core/host_rules.h"

namespace kv {

class GrowableArgList;
class IProgress;
class LocationValidator;

// Which host description is in force for this build.
const HostRules& hostRules();

// The file to open as the launcher itself: argv[0] on Linux, the module file
// name on Windows (argv[0] when that query fails).
std::string ownExecutablePath(const char* argv0);

// `path` made whole against the current folder (and drive) the way the
// system resolves it: GetFullPathName on Windows. Linux refuses relative
// locations instead, and returns `path` unchanged. Empty when it fails.
std::string wholePath(const std::string& path);

// Offset from the end of the launcher file at which the last footer is read:
// -8 on Linux; -8 - S on Windows with a certificate table of S bytes.
// Computed once per process.
int64_t bundleEndOffset(std::FILE* launcherFile);

// Where the program image ends in the launcher file (the ELF's or PE's own
// end); a bundle starts there. 0 when the image is not recognised.
uint64_t programImageEnd(std::FILE* launcherFile);

// Whether standard output is a terminal (Windows: a console, not a pipe or
// a file).
bool standardOutputIsTerminal();

// Borrows the starting process's console (Windows). Linux: always true.
bool attachConsole();

// The user's home folder ("" when there is none); Linux only, "" elsewhere.
std::string homeDirectory();

// The remembered install location for productKey ("" = none), else the
// built-in default: folder productFolder ("" = "Korvane") in the home folder
// (Linux) or at the root of drive C (Windows).
std::string readDefaultLocation(const std::string& productKey, const std::string& productFolder);
void writeDefaultLocation(const std::string& productKey, const std::string& location);

// A fresh name for a temporary install folder; the location check creates it
// (Linux creates it at once, exclusively, and the check finds it in place).
// False when no name can be made.
bool makeTempFolderName(std::string& name);

// Removes a folder and everything below it. True when it is gone.
bool deleteFolderTree(const std::string& path);

// What to undo when the user or the system interrupts the run (Linux:
// SIGINT, SIGTERM, SIGHUP; Windows: a console's Ctrl-C, Ctrl-Break or
// close): `cleanup` runs once, on a thread of its own while the main thread
// writes nothing more, and the process then ends as the interruption
// would have ended it. Null: nothing of the core's to undo.
void setInterruptCleanup(void (*cleanup)());

// Starts "<installDir>/maintenance/kvInstaller/<platform>/kvInstaller" with
// entries 1.. of `args` (entry 0 is replaced by the program path). Without
// `wait` the Linux launcher replaces itself by the installer and returns
// only when that failed. Returns the exit code (or signal number) when it
// waited, 0 when started without waiting, 1 when starting failed.
int launchInstaller(const std::string& installDir, GrowableArgList& args, bool consoleMode,
                    bool wait);

// GUI start (Linux): binds GTK and opens the display. False when that
// failed, with `message` set to what is printed before falling back to
// console mode.
bool initGui(GrowableArgList& args, std::string* message);

// Runs the install media's host-check program, if there is one (Linux).
void hostCheck(const std::string& launcherDirectory);

// The location dialog: none when cancelled. An accepted location has passed
// validator.check(..., requireProducts, ...).
std::optional<std::string> selectLocation(const std::optional<std::string>& initial,
                                          const char* prompt, bool requireProducts,
                                          const LocationValidator& validator);

// The progress window, on screen and served by its own thread. Never deleted.
IProgress* createProgress();

// Shows `text` in a modal error box and returns when the user closed it
// (dialog mode only; any progress window has been finished before).
void showErrorBox(const std::string& text);

// The logo file for the dialogs (Linux; nothing on Windows). The host
// removes it again once the dialogs are over.
void extractLogo(std::FILE* launcherFile);

// True in the Windows console twin "setupc.exe", which runs as if
// "-winconsole" had been given. False everywhere else.
bool isConsoleTwinProgram();

// Windows: re-runs the command line through the console twin "setupc.exe"
// and stores its exit code. False when it could not be started (and always
// on Linux).
bool runConsoleTwin(int& exitCode);

}  // namespace kv
