// The launcher from program entry to exit: gathers the installer's
// arguments, settles the mode and the install location, extracts what the
// install directory lacks and starts the installer. Returns the exit code.
#pragma once

#include <cstdio>
#include <string>

#include "core/run_host.h"

namespace kv {

// The run on this build's host (platformHost()).
int runLauncher(int argc, char** argv);
// The run on `host`. The installer's argument lists are the process's own
// (they are listed at exit for -showargsandexit); each run starts them
// afresh.
int runLauncher(int argc, char** argv, RunHost& host);

// The extraction step: version check, then the payload walk (with a progress
// window unless consoleMode). Its result is one of three outcomes, not an
// error code (the caller decides what each means for the run):
//  - kDone: every archive the install directory lacked was extracted (or
//    none was needed);
//  - kNoBundle: the launcher file holds no readable bundle; nothing was
//    extracted and nothing said;
//  - kFailed: an archive failed to extract: its error line has been printed
//    and, in dialog mode, shown in an error box; when the archive's data was
//    damaged, a line naming `setupFile` as damaged follows it in both.
enum class Extraction { kDone, kNoBundle, kFailed };
Extraction extractBundle(std::FILE* launcherFile, const std::string& setupFile,
                         const std::string& installDir, bool consoleMode, RunHost& host);

}  // namespace kv
