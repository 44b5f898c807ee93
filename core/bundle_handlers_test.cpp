#include "core/embedded_arguments.h"
#include "core/install_check.h"
#include "core/install_layout.h"
#include "core/payload_extraction.h"
#include "core/release_line.h"
#include "core/version_check.h"

#include <gtest/gtest.h>

#include "base/fs.h"
#include "core/combined_progress.h"
#include "test_support.h"

namespace kv {
namespace {

using kvtest::Block;
using kvtest::ScratchDir;

const std::string kBundleVersion =
    "version=2.7.3.271REL03_201509181225\nname=Korvane Installer\nid=x\n";

// An install directory whose .eclipseproduct holds `version` (none: no file).
void installVersion(const std::string& dir, const char* version) {
  if (!version) return;
  kvtest::writeFile(dir + "/maintenance/kvInstaller/x86-linux2/.eclipseproduct",
                    std::string("name=x\nversion=") + version + "\n");
}

struct Flags {
  bool installer, jre;
  bool operator==(const Flags& o) const { return installer == o.installer && jre == o.jre; }
};

Flags versionCheck(const ScratchDir& dir, const std::string& installDir) {
  FilePtr file = openFile(dir / "launcher", "rb");
  VersionCheckHandler check(installDir, kLinuxHost);
  EXPECT_TRUE(walkBundle(file.get(), check));
  return {check.needInstaller, check.needJre};
}

TEST(VersionCheckHandlerTest, DecidesWhatToExtract) {
  ScratchDir dir;
  kvtest::writeLauncher(dir / "launcher", "IMAGE",
                        {{'v', kBundleVersion}, {'i', "I"}, {'j', "J"}, {'r', "R"}});
  std::string marker = "/maintenance/kvInstaller/x86-linux2/jre/1.8.0_40/COPYRIGHT";

  struct Case {
    const char* installed;
    bool marker, installerLock, jreLock;
    Flags expected;
  } cases[] = {
      {nullptr, false, false, false, {true, true}},
      {"2.7.3.271REL03_201509181225", true, false, false, {false, false}},
      {"2.7.3.271REL03_201509181224", false, false, false, {true, true}},
      {"2.7.2.zzz", true, false, false, {true, false}},
      {"2.10.0.a", false, false, false, {false, false}},  // no downgrade
      {"2.7.3.271REL03_201509181225", false, false, false, {false, false}},
      {"2.7.3.271REL03_201509181225", false, false, true, {false, true}},
      {"2.7.3.271REL03_201509181225", false, true, false, {true, true}},
      {"2.7.3.271REL03_201509181225", true, true, false, {true, false}},
  };
  int n = 0;
  for (const Case& c : cases) {
    std::string inst = dir / ("inst" + std::to_string(n++));
    kvtest::runShell("mkdir -p '" + inst + "'");
    installVersion(inst, c.installed);
    if (c.marker) kvtest::writeFile(inst + marker, "marker");
    if (c.installerLock) kvtest::writeFile(inst + "/.installerLock", "");
    if (c.jreLock) kvtest::writeFile(inst + "/.jreLock", "");
    Flags got = versionCheck(dir, inst);
    EXPECT_TRUE(got == c.expected)
        << "case " << n - 1 << ": installer " << got.installer << " jre " << got.jre;
  }

  // Without a 'v' block both stay true.
  kvtest::writeLauncher(dir / "launcher", "IMAGE", {{'i', "I"}, {'j', "J"}});
  std::string current = dir / "inst1";
  EXPECT_TRUE(versionCheck(dir, current) == (Flags{true, true}));
}

TEST(TagHandlersTest, ArgumentsReleaseLinesAndPatchSupport) {
  ScratchDir dir;
  kvtest::writeLauncher(
      dir / "launcher", "IMAGE",
      {{'r', "FIRST"}, {'a', "-one"}, {'x', "unknown"}, {'a', "two words"}, {'r', "SECOND"}});
  FilePtr file = openFile(dir / "launcher", "rb");

  ArgCounter counter;
  EXPECT_TRUE(walkBundle(file.get(), counter));
  ASSERT_EQ(counter.count, 2);
  std::vector<const char*> args;
  ArgFetcher fetcher(counter.count, args);
  EXPECT_TRUE(walkBundle(file.get(), fetcher));
  ASSERT_EQ(args.size(), 2u);
  EXPECT_STREQ(args[0], "-one");
  EXPECT_STREQ(args[1], "two words");

  testing::internal::CaptureStdout();
  RelPrinter printer;
  EXPECT_TRUE(walkBundle(file.get(), printer));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Korvane Installer version SECOND\nKorvane Installer version FIRST\n");

  struct {
    const char* version;
    bool patch;
  } versions[] = {
      {"2.2.0.a", false}, {"2.3.0.a", true}, {"3.0.0.a", true}, {"1.9.9.a", true}, {nullptr, true}};
  int n = 0;
  for (auto& v : versions) {
    std::string inst = dir / ("p" + std::to_string(n++));
    installVersion(inst, v.version);
    EXPECT_EQ(InstallCheckHandler(inst, kLinuxHost).supportsPatch, v.patch)
        << (v.version ? v.version : "none");
  }
}

TEST(TagHandlersTest, CanRunInstaller) {
  ScratchDir dir;
  std::string inst = dir / "inst";
  kvtest::writeFile(inst + "/maintenance/kvInstaller/x86-linux2/kvInstaller", "x");

  kvtest::writeLauncher(dir / "none", "IMAGE", {});
  kvtest::writeLauncher(dir / "installerOnly", "IMAGE", {{'i', "I"}});
  kvtest::writeLauncher(dir / "both", "IMAGE", {{'i', "I"}, {'j', "J"}});
  auto can = [&](const char* launcher, const std::string& where) {
    FilePtr file = openFile(dir / launcher, "rb");
    return canRunInstaller(file.get(), where, kLinuxHost);
  };
  EXPECT_TRUE(can("both", dir / "nothing-here"));
  EXPECT_FALSE(can("installerOnly", dir / "nothing-here"));
  EXPECT_FALSE(can("none", inst));
  EXPECT_FALSE(can("installerOnly", inst));
  kvtest::runShell("mkdir -p '" + inst + "/jre/1.6.0_06/x86-linux2'");
  EXPECT_TRUE(can("none", inst));
  EXPECT_TRUE(can("installerOnly", inst));
}

// Records the calls it gets.
class RecordingProgress : public IProgress {
 public:
  void start(int total) override { calls += "s" + std::to_string(total) + " "; }
  void update(int done) override { calls += "u" + std::to_string(done) + " "; }
  void finish() override { calls += "f "; }
  std::string calls;
};

TEST(CombinedProgressTest, OneBarAcrossArchives) {
  RecordingProgress window;
  CombinedProgress combined(&window);
  combined.start(2);
  combined.update(1);
  combined.update(2);
  combined.finish();
  combined.start(3);
  combined.update(1);
  combined.finish();
  EXPECT_EQ(window.calls, "s2 u1 u2 s5 u3 ");

  // With the total known beforehand the bar never jumps back.
  RecordingProgress known;
  CombinedProgress once(&known);
  once.setKnownTotal(5);
  once.start(2);
  once.update(2);
  once.start(3);
  once.update(1);
  EXPECT_EQ(known.calls, "s5 u2 s5 u3 ");
}

TEST(PayloadFileCounterTest, CountsTheFilesOfTheBlocksToExtract) {
  ScratchDir dir;
  kvtest::writeFile(dir / "i/a/one", "1");
  kvtest::writeFile(dir / "i/a/two", "2");
  kvtest::writeFile(dir / "j/three", "3");
  ASSERT_EQ(
      kvtest::runShell("cd '" + dir / "i" + "' && 7zz a -bd -bso0 -bsp0 ../i.7z . >/dev/null"), 0);
  ASSERT_EQ(
      kvtest::runShell("cd '" + dir / "j" + "' && 7zz a -bd -bso0 -bsp0 ../j.7z . >/dev/null"), 0);
  kvtest::writeLauncher(dir / "launcher", "IMAGE",
                        {{'v', kBundleVersion},
                         {'i', kvtest::readFile(dir / "i.7z")},
                         {'j', kvtest::readFile(dir / "j.7z")},
                         {'p', "not an archive"}});
  FilePtr file = openFile(dir / "launcher", "rb");
  VersionCheckHandler check(dir / "inst", kLinuxHost);
  PayloadFileCounter all(check);
  walkBundle(file.get(), all);
  EXPECT_EQ(all.files, 3);
  EXPECT_EQ(all.bytes, 3u);
  check.needJre = false;
  PayloadFileCounter installerOnly(check);
  walkBundle(file.get(), installerOnly);
  EXPECT_EQ(installerOnly.files, 2);
  EXPECT_EQ(installerOnly.bytes, 2u);
}

}  // namespace
}  // namespace kv
