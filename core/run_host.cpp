#include "core/run_host.h"

#include "core/platform.h"

namespace kv {

namespace {

class PlatformHost : public RunHost {
 public:
  const HostRules& rules() override { return hostRules(); }
  std::string ownExecutablePath(const char* argv0) override { return kv::ownExecutablePath(argv0); }
  std::string homeDirectory() override { return kv::homeDirectory(); }

  bool attachConsole() override { return kv::attachConsole(); }
  bool isConsoleTwinProgram() override { return kv::isConsoleTwinProgram(); }
  bool runConsoleTwin(int& exitCode) override { return kv::runConsoleTwin(exitCode); }

  std::string readDefaultLocation(const std::string& productKey,
                                  const std::string& productFolder) override {
    return kv::readDefaultLocation(productKey, productFolder);
  }
  void writeDefaultLocation(const std::string& productKey, const std::string& location) override {
    kv::writeDefaultLocation(productKey, location);
  }
  bool makeTempFolderName(std::string& name) override { return kv::makeTempFolderName(name); }

  bool initGui(GrowableArgList& args, std::string* message) override {
    return kv::initGui(args, message);
  }
  void hostCheck(const std::string& launcherDirectory) override {
    kv::hostCheck(launcherDirectory);
  }
  void extractLogo(std::FILE* launcherFile) override { kv::extractLogo(launcherFile); }
  std::optional<std::string> selectLocation(const std::optional<std::string>& initial,
                                            const char* prompt, bool requireProducts,
                                            const LocationValidator& validator) override {
    return kv::selectLocation(initial, prompt, requireProducts, validator);
  }
  IProgress* createProgress() override { return kv::createProgress(); }
  void showErrorBox(const std::string& text) override { kv::showErrorBox(text); }

  int launchInstaller(const std::string& installDir, GrowableArgList& args, bool consoleMode,
                      bool wait) override {
    return kv::launchInstaller(installDir, args, consoleMode, wait);
  }
};

}  // namespace

RunHost& platformHost() {
  static PlatformHost host;
  return host;
}

}  // namespace kv
