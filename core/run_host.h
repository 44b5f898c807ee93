// RunHost: the host as one run of the launcher sees it, behind one
// interface, so that a test can run the launcher against a host of its own
// (one that records what the run asked for and answers as the test says).
// Each operation is the one of the same name in core/platform.h;
// platformHost() forwards every call to it. The pieces the run is built from
// (bundle walks, location checks, extraction) reach the host through
// core/platform.h and base/fs.h themselves.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "core/host_rules.h"

namespace kv {

class GrowableArgList;
class IProgress;
class LocationValidator;

class RunHost {
 public:
  virtual ~RunHost() = default;

  virtual const HostRules& rules() = 0;
  virtual std::string ownExecutablePath(const char* argv0) = 0;
  virtual std::string homeDirectory() = 0;

  // The console: borrowed, or the console twin run in its place.
  virtual bool attachConsole() = 0;
  virtual bool isConsoleTwinProgram() = 0;
  virtual bool runConsoleTwin(int& exitCode) = 0;

  // The locations.
  virtual std::string readDefaultLocation(const std::string& productKey,
                                          const std::string& productFolder) = 0;
  virtual void writeDefaultLocation(const std::string& productKey, const std::string& location) = 0;
  virtual bool makeTempFolderName(std::string& name) = 0;

  // The dialogs.
  virtual bool initGui(GrowableArgList& args, std::string* message) = 0;
  virtual void hostCheck(const std::string& launcherDirectory) = 0;
  virtual void extractLogo(std::FILE* launcherFile) = 0;
  virtual std::optional<std::string> selectLocation(const std::optional<std::string>& initial,
                                                    const char* prompt, bool requireProducts,
                                                    const LocationValidator& validator) = 0;
  virtual IProgress* createProgress() = 0;
  virtual void showErrorBox(const std::string& text) = 0;

  // The installer.
  virtual int launchInstaller(const std::string& installDir, GrowableArgList& args,
                              bool consoleMode, bool wait) = 0;
};

// The host this build runs on (core/platform.h). Lives until the process ends.
RunHost& platformHost();

}  // namespace kv
