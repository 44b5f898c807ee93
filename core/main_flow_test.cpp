#include "core/main_flow.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "base/fs.h"
#include "core/arg_list.h"
#include "core/install_layout.h"
#include "test_support.h"

namespace kv {
namespace {

using kvtest::ScratchDir;

// Puts an installer and a runtime into `folder`, so that a launcher without
// a bundle can start them from there.
void installProducts(const std::string& folder) {
  kvtest::writeFile(installerExecutablePath(folder, kLinuxHost), "installer");
  kvtest::writeFile(jreDirectoryPath(folder, kLinuxHost) + "/release", "runtime");
}

// A host that answers from memory and records what the run asked of it.
// Its launcher file carries no bundle.
class FakeHost : public RunHost {
 public:
  explicit FakeHost(const ScratchDir& dir) : dir_(dir) {
    kvtest::writeFile(dir / "setup", "a launcher without a bundle");
  }

  const HostRules& rules() override { return kLinuxHost; }
  std::string ownExecutablePath(const char*) override { return dir_ / "setup"; }
  std::string homeDirectory() override { return dir_.path(); }
  bool attachConsole() override { return true; }
  bool isConsoleTwinProgram() override { return false; }
  bool runConsoleTwin(int&) override { return false; }
  std::string readDefaultLocation(const std::string&, const std::string&) override {
    return remembered.value_or("");
  }
  void writeDefaultLocation(const std::string&, const std::string& location) override {
    remembered = location;
  }
  bool makeTempFolderName(std::string& name) override {
    name = dir_ / "temporary";
    installProducts(name);
    return true;
  }
  bool initGui(GrowableArgList&, std::string*) override { return true; }
  void hostCheck(const std::string&) override {}
  void extractLogo(std::FILE*) override {}
  std::optional<std::string> selectLocation(const std::optional<std::string>&, const char*, bool,
                                            const LocationValidator&) override {
    return dialogAnswer;
  }
  IProgress* createProgress() override { return nullptr; }
  void showErrorBox(const std::string&) override {}
  int launchInstaller(const std::string& installDir, GrowableArgList&, bool consoleMode,
                      bool wait) override {
    launched = Launch{installDir, consoleMode, wait};
    return 7;
  }

  struct Launch {
    std::string installDir;
    bool consoleMode;
    bool wait;
  };
  std::optional<std::string> dialogAnswer;
  std::optional<std::string> remembered;
  std::optional<Launch> launched;

 private:
  const ScratchDir& dir_;
};

// Runs the launcher on `host` with `args` after the program path; "@" in
// an argument stands for the scratch folder.
int run(FakeHost& host, const ScratchDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), dir / "setup");
  std::vector<char*> argv;
  for (std::string& arg : args) {
    if (arg[0] == '@') arg = dir.path() + arg.substr(1);
    argv.push_back(&arg[0]);
  }
  return runLauncher(static_cast<int>(argv.size()), argv.data(), host);
}

TEST(MainFlowTest, RunsOnAHostOfItsOwn) {
  struct Case {
    std::vector<std::string> args;
    std::optional<std::string> dialogAnswer;
    int exitCode;
    std::optional<std::string> launchedIn;  // also the location remembered, unless temporary
    bool temporary;                         // waited for, removed, not remembered
  };
  const Case cases[] = {
      {{"-silent", "-installPath", "@/installed"}, std::nullopt, 7, "/installed", false},
      {{"-silent", "-validate"}, std::nullopt, 7, "/temporary", true},
      {{}, "@/installed", 7, "/installed", false},
      {{}, std::nullopt, 0, std::nullopt, false},  // the dialog cancelled
      {{"-silent"}, std::nullopt, 1, std::nullopt, false},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    installProducts(dir / "installed");
    FakeHost host(dir);
    if (c.dialogAnswer) host.dialogAnswer = dir.path() + c.dialogAnswer->substr(1);
    SCOPED_TRACE(testing::PrintToString(c.args));

    EXPECT_EQ(run(host, dir, c.args), c.exitCode);
    ASSERT_EQ(host.launched.has_value(), c.launchedIn.has_value());
    if (!c.launchedIn) {
      EXPECT_FALSE(host.remembered);
      continue;
    }
    EXPECT_EQ(host.launched->installDir, dir.path() + *c.launchedIn);
    EXPECT_EQ(host.launched->consoleMode, !c.args.empty());
    EXPECT_EQ(host.launched->wait, c.temporary);
    const std::optional<std::string> remembered = host.launched->installDir;
    EXPECT_EQ(host.remembered, c.temporary ? std::nullopt : remembered);
    EXPECT_EQ(fs::exists(dir.path() + *c.launchedIn), !c.temporary);
  }
}

}  // namespace
}  // namespace kv
