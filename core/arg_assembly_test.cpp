#include "core/arg_assembly.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/dir_path.h"
#include "core/option_scan.h"
#include "test_support.h"

namespace kv {
namespace {

using Strings = std::vector<std::string>;

Strings elements(const GrowableArgList& list) {
  Strings out;
  for (int i = 0; i < list.count(); ++i) out.push_back(list.at(i));
  return out;
}

void pushAll(GrowableArgList& list, const std::vector<const char*>& texts) {
  for (const char* t : texts) list.push(t);
}

// A launcher folder of its own, removed afterwards.
class ArgAssemblyTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    dir_ = scratch_.path();
    vmArgs_.push("-vmargs");
  }
  std::string file(const std::string& name, const std::string& content = "") {
    std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string folder(const std::string& name) {
    std::string path = dir_ + "/" + name;
    std::filesystem::create_directories(path);
    return path;
  }
  kvtest::ScratchDir scratch_;
  std::string dir_;
  GrowableArgList args_;
  GrowableArgList vmArgs_;
};

TEST(LauncherDirectory, LinuxRules) {
  EXPECT_EQ(launcherDirectory("/opt/kv/setup", kLinuxHost, "/home/u"), "/opt/kv");
  EXPECT_EQ(launcherDirectory("setup", kLinuxHost, "/home/u"), "/home/u");
  EXPECT_EQ(launcherDirectory("./setup", kLinuxHost, "/home/u"), "/home/u");
  EXPECT_EQ(launcherDirectory("bin/setup", kLinuxHost, "/home/u"), "/home/u/bin");
  EXPECT_EQ(launcherDirectory("../m//setup", kLinuxHost, "/home/u"), "/home/u/../m");
  EXPECT_EQ(launcherDirectory("/opt/kv/", kLinuxHost, "/home/u"), "/opt");
  // A launcher in the root keeps the root, so that child paths stay absolute.
  EXPECT_EQ(launcherDirectory("/setup", kLinuxHost, "/home/u"), "/");
  EXPECT_EQ(childPath("/", kLinuxHost, "sdf.xml"), "/sdf.xml");
  EXPECT_EQ(launcherDirectory("bin/setup", kLinuxHost, "/"), "/bin");
}

TEST(LauncherDirectory, WindowsRules) {
  EXPECT_EQ(launcherDirectory("setup", kWindowsHost, "C:\\work"), "C:\\work");
  EXPECT_EQ(launcherDirectory("C:\\dist\\setup.exe", kWindowsHost, "D:\\"), "C:\\dist");
  EXPECT_EQ(launcherDirectory("dist\\setup.exe", kWindowsHost, "C:\\work"), "C:\\work\\dist");
  EXPECT_EQ(launcherDirectory("dist/setup.exe", kWindowsHost, "C:\\work"), "C:\\work\\dist");
  EXPECT_EQ(launcherDirectory("\\\\srv\\share\\setup.exe", kWindowsHost, "C:\\"), "\\\\srv\\share");
  EXPECT_EQ(launcherDirectory("C:\\setup.exe", kWindowsHost, "D:\\"), "C:");
  EXPECT_EQ(childPath("C:", kWindowsHost, "sdf.xml"), "C:\\sdf.xml");
  // The drive prefix stays with the directory, whatever follows it; only
  // Windows has one.
  EXPECT_EQ(directoryPart("C:setup.exe", kWindowsHost), "C:");
  EXPECT_EQ(directoryPart("C:\\", kWindowsHost), "C:");
  EXPECT_EQ(directoryPart("C:setup", kLinuxHost), ".");
}

TEST(IniOption, TakesTheFirstPairOnly) {
  std::vector<const char*> last{"x", "-ini"};
  std::string path;
  EXPECT_FALSE(takeIniOption(last, path));
  EXPECT_EQ(last.size(), 2u);

  std::vector<const char*> two{"x", "-ini", "a.ini", "-ini", "b.ini"};
  EXPECT_TRUE(takeIniOption(two, path));
  EXPECT_EQ(path, "a.ini");
  EXPECT_EQ(Strings(two.begin(), two.end()), (Strings{"x", "-ini", "b.ini"}));

  std::vector<const char*> upper{"-INI", "a.ini"};
  EXPECT_FALSE(takeIniOption(upper, path));
}

TEST_F(ArgAssemblyTest, VmArgumentsKeepTheirSourceOrder) {
  args_.push("setup");
  appendArguments(args_, vmArgs_, {"-vmargs", "-Xms64m"});
  std::string ini = file("args.ini", "-vmargs\n-Xmx1g\n");
  std::vector<const char*> user{"-ini", ini.c_str(), "-silent", "-vmargs", "-Dk=V"};
  EXPECT_TRUE(appendIniArguments(args_, vmArgs_, user, dir_ + "/setup_linux", kLinuxHost));
  appendUserArguments(args_, vmArgs_, user, false);
  EXPECT_EQ(elements(args_), (Strings{"setup", "-silent"}));

  scanOptions(args_);
  appendVmArgs(args_, vmArgs_);
  EXPECT_EQ(elements(args_),
            (Strings{"setup", "-silent", "-vmargs", "-Xms64m", "-Xmx1g", "-Dk=V"}));
  EXPECT_EQ(vmArgs_.count(), 0);
}

TEST_F(ArgAssemblyTest, LoneVmargsDisappears) {
  args_.push("setup");
  appendUserArguments(args_, vmArgs_, {"-a", "-vmargs"}, false);
  EXPECT_EQ(elements(args_), (Strings{"setup", "-a"}));
  EXPECT_EQ(elements(vmArgs_), (Strings{"-vmargs"}));
  appendVmArgs(args_, vmArgs_);
  EXPECT_EQ(elements(args_), (Strings{"setup", "-a"}));
}

TEST_F(ArgAssemblyTest, IniFileLookup) {
  args_.push("setup");
  // No -ini and no default file: nothing added, nothing reported.
  std::vector<const char*> none{"-x"};
  EXPECT_FALSE(appendIniArguments(args_, vmArgs_, none, dir_ + "/setup_linux", kLinuxHost));
  EXPECT_EQ(args_.count(), 1);

  // The second default name, in ../installer_customization.
  folder("media");
  folder("installer_customization");
  file("installer_customization/setup.ini", "-Custom\n");
  EXPECT_TRUE(appendIniArguments(args_, vmArgs_, none, dir_ + "/media/setup_linux", kLinuxHost));
  // The first name wins when both exist.
  file("media/setup.ini", "-beside\n");
  EXPECT_TRUE(appendIniArguments(args_, vmArgs_, none, dir_ + "/media/setup_linux", kLinuxHost));
  EXPECT_EQ(elements(args_), (Strings{"setup", "-Custom", "-beside"}));

  // A -ini file that is missing reads nothing, and the default is not tried.
  std::vector<const char*> missing{"-ini", "/nonexistent/x.ini", "-y"};
  EXPECT_FALSE(
      appendIniArguments(args_, vmArgs_, missing, dir_ + "/media/setup_linux", kLinuxHost));
  EXPECT_EQ(Strings(missing.begin(), missing.end()), (Strings{"-y"}));
  EXPECT_EQ(args_.count(), 3);
}

TEST_F(ArgAssemblyTest, IniLinesAreScannedLikeTypedOnes) {
  args_.push("setup");
  file("setup.ini", "  ${iniloc}/plugins  \n-Dname=Value\n");
  std::vector<const char*> none;
  ASSERT_TRUE(appendIniArguments(args_, vmArgs_, none, dir_ + "/setup_linux", kLinuxHost));
  scanOptions(args_);
  EXPECT_EQ(elements(args_), (Strings{"setup", dir_ + "/plugins", "-dname=value"}));
}

TEST_F(ArgAssemblyTest, WindowsPrePassDropsWinConsole) {
  args_.push("setup");
  std::vector<const char*> user{"-WINCONSOLE", "x", "--winconsole", "winconsole"};
  EXPECT_TRUE(appendUserArguments(args_, vmArgs_, user, true));
  EXPECT_EQ(elements(args_), (Strings{"setup", "x", "winconsole"}));

  GrowableArgList linux;
  linux.push("setup");
  EXPECT_FALSE(appendUserArguments(linux, vmArgs_, user, false));
  EXPECT_EQ(linux.count(), 5);
}

TEST_F(ArgAssemblyTest, ConsoleSwitchesAndPromptedPath) {
  pushAll(args_, {"setup", "-recipe", "r.xml", "-yum", "list"});
  LaunchOptions opts = scanOptions(args_);
  ASSERT_EQ(opts.insertionPoint, 3);
  opts.winConsole = true;
  insertSilentForWinConsole(args_, opts);  // already in console mode: nothing
  EXPECT_EQ(args_.count(), 5);
  insertConsoleSwitches(args_, opts, false);
  insertPromptedInstallPath(args_, opts, "/opt/kv");
  EXPECT_EQ(elements(args_), (Strings{"setup", "--launcher.suppressErrors", "-nosplash", "-recipe",
                                      "r.xml", "-installpath", "/opt/kv", "-yum", "list"}));
  EXPECT_EQ(opts.insertionPoint, 7);
  EXPECT_TRUE(opts.installPathGiven);
  EXPECT_EQ(opts.installPath, std::string("/opt/kv"));
}

TEST_F(ArgAssemblyTest, WinConsoleAndGuiFallBack) {
  pushAll(args_, {"setup", "a"});
  LaunchOptions opts = scanOptions(args_);
  opts.winConsole = true;
  insertSilentForWinConsole(args_, opts);
  EXPECT_TRUE(opts.consoleMode);
  EXPECT_EQ(elements(args_), (Strings{"setup", "a", "-silent"}));
  EXPECT_EQ(opts.insertionPoint, 3);

  GrowableArgList gui;
  pushAll(gui, {"setup", "a"});
  LaunchOptions fallBack = scanOptions(gui);
  insertConsoleSwitches(gui, fallBack, true);
  EXPECT_TRUE(fallBack.consoleMode);
  EXPECT_EQ(elements(gui),
            (Strings{"setup", "--launcher.suppressErrors", "-nosplash", "-silent", "a"}));
  EXPECT_EQ(fallBack.insertionPoint, 5);
}

TEST_F(ArgAssemblyTest, YumRunKeepsLauncherOptionsOutOfTheYumSection) {
  file("sdf.xml");
  folder("yum.repos");
  pushAll(args_, {"setup", "-silent", "-installpath", "X", "-yum", "install", "pkg",
                  "--installroot=X", "--installroot=", "--installroot=Y"});
  LaunchOptions opts = scanOptions(args_);
  insertConsoleSwitches(args_, opts, false);
  opts.installPath = "/validated/X";
  rewriteLocations(args_, opts);
  addLauncherOptions(args_, opts, dir_, kLinuxHost);
  EXPECT_EQ(elements(args_),
            (Strings{"setup", "--launcher.suppressErrors", "-nosplash", "-silent", "-installpath",
                     "/validated/X", "-sdf", dir_ + "/sdf.xml", "-yumdefaults", dir_ + "/yum.repos",
                     "-yum", "install", "pkg", "--installroot=/validated/X",
                     "--installroot=", "--installroot=/validated/X"}));
  // Both replacements share one text.
  EXPECT_EQ(args_.at(13), args_.at(15));
}

TEST_F(ArgAssemblyTest, InstallRootKeepsTheWholePath) {
  pushAll(args_, {"setup", "-yum", "--installroot=a"});
  LaunchOptions opts = scanOptions(args_);
  std::string longPath = "/" + std::string(400, 'p');
  opts.installPath = longPath;
  rewriteLocations(args_, opts);
  EXPECT_EQ(std::string(args_.at(2)), "--installroot=" + longPath);
}

TEST_F(ArgAssemblyTest, DownloadPathRewrite) {
  pushAll(args_, {"setup", "-download"});
  LaunchOptions opts = scanOptions(args_);
  opts.downloadPath = "/chosen";
  rewriteLocations(args_, opts);
  EXPECT_EQ(elements(args_), (Strings{"setup", "-download", "/chosen"}));
  EXPECT_EQ(opts.insertionPoint, 3);

  GrowableArgList old;
  pushAll(old, {"setup", "-download", "old", "-x"});
  opts = scanOptions(old);
  opts.downloadPath = "/chosen";
  rewriteLocations(old, opts);
  EXPECT_EQ(elements(old), (Strings{"setup", "-download", "/chosen", "-x"}));

  GrowableArgList option;
  pushAll(option, {"setup", "-download", "-silent"});
  opts = scanOptions(option);
  opts.downloadPath = "/chosen";
  rewriteLocations(option, opts);
  EXPECT_EQ(elements(option), (Strings{"setup", "-download", "/chosen", "-silent"}));
  EXPECT_EQ(opts.insertionPoint, 4);
}

TEST_F(ArgAssemblyTest, RewriteComparesExactly) {
  // The launcher's own "-installPath" and a yum-section "-installpath" stay.
  pushAll(args_, {"setup", "-installPath", "a", "-yum", "-installpath", "b", "-global",
                  "-installpath", "c"});
  LaunchOptions opts;
  opts.installPath = "/v";
  rewriteLocations(args_, opts);
  EXPECT_EQ(elements(args_), (Strings{"setup", "-installPath", "a", "-yum", "-installpath", "b",
                                      "-global", "-installpath", "/v"}));
  EXPECT_EQ(opts.insertionPoint, 9);
}

TEST_F(ArgAssemblyTest, SdfCandidates) {
  // A user's -sdf with a value stops the launcher's own.
  file("sdf.xml");
  pushAll(args_, {"setup", "-sdf", "mine.xml"});
  LaunchOptions opts = scanOptions(args_);
  opts.installPathGiven = true;
  addLauncherOptions(args_, opts, dir_, kLinuxHost);
  EXPECT_EQ(elements(args_), (Strings{"setup", "-sdf", "mine.xml"}));

  // "-sdf" as the last argument does not count.
  GrowableArgList last;
  pushAll(last, {"setup", "-sdf"});
  opts = scanOptions(last);
  opts.installPathGiven = true;
  addLauncherOptions(last, opts, dir_, kLinuxHost);
  EXPECT_EQ(elements(last), (Strings{"setup", "-sdf", "-sdf", dir_ + "/sdf.xml"}));

  // Without sdf.xml the later names count, whatever kind of entry they are.
  std::filesystem::remove(dir_ + "/sdf.xml");
  folder("dvds.repos");
  GrowableArgList repos;
  pushAll(repos, {"setup"});
  opts = scanOptions(repos);
  opts.installPathGiven = true;
  addLauncherOptions(repos, opts, dir_, kLinuxHost);
  EXPECT_EQ(elements(repos), (Strings{"setup", "-sdf", dir_ + "/dvds.repos"}));
  file("dvds.properties");
  GrowableArgList props;
  pushAll(props, {"setup"});
  opts = scanOptions(props);
  opts.installPathGiven = true;
  addLauncherOptions(props, opts, dir_, kLinuxHost);
  EXPECT_EQ(elements(props), (Strings{"setup", "-sdf", dir_ + "/dvds.properties"}));
}

TEST_F(ArgAssemblyTest, WrongKindsOfSideFilesAreIgnored) {
  file("yum.repos");
  folder("art/splash.bmp");
  pushAll(args_, {"setup", "-branding", "art"});
  LaunchOptions opts = scanOptions(args_);
  opts.installPathGiven = true;
  addLauncherOptions(args_, opts, dir_, kLinuxHost);
  EXPECT_EQ(elements(args_), (Strings{"setup", "-branding", "art"}));
}

TEST_F(ArgAssemblyTest, SplashPictureRelativeOrAbsolute) {
  folder("art");
  file("art/splash.bmp");
  pushAll(args_, {"setup", "-branding", "art"});
  LaunchOptions opts = scanOptions(args_);
  opts.installPath = "/i";
  addLauncherOptions(args_, opts, dir_, kLinuxHost);
  EXPECT_EQ(elements(args_), (Strings{"setup", "-branding", "art", "-showSplash",
                                      dir_ + "/art/splash.bmp", "-installPath", "/i"}));

  GrowableArgList absolute;
  std::string art = dir_ + "/art";
  pushAll(absolute, {"setup", "-branding", art.c_str()});
  opts = scanOptions(absolute);
  opts.installPathGiven = true;
  addLauncherOptions(absolute, opts, "/elsewhere", kLinuxHost);
  EXPECT_EQ(elements(absolute),
            (Strings{"setup", "-branding", art, "-showSplash", dir_ + "/art/splash.bmp"}));
}

// Side-file paths over the host's limit (259 characters on Windows, 4095
// on Linux) are not passed on: a cut path would name some other file.
// Backslash-joined names are plain file names on Linux, so the Windows rule
// is checked with real entries too.
TEST_F(ArgAssemblyTest, OverlongPathsAreNotOffered) {
  std::string longDir = folder(std::string(200, 'd')) + "/" + std::string(60, 'e');
  file(std::string(200, 'd') + "/" + std::string(60, 'e') + "\\sdf.xml");
  ASSERT_GT(childPath(longDir, kWindowsHost, "sdf.xml").size(), 259u);
  LaunchOptions opts;
  opts.installPathGiven = true;
  pushAll(args_, {"setup"});
  addLauncherOptions(args_, opts, longDir, kWindowsHost);
  EXPECT_EQ(args_.count(), 1);

  std::string shortDir = dir_ + "/s";
  file("s\\sdf.xml");
  ASSERT_LE(childPath(shortDir, kWindowsHost, "sdf.xml").size(), 259u);
  addLauncherOptions(args_, opts, shortDir, kWindowsHost);
  EXPECT_EQ(elements(args_), (Strings{"setup", "-sdf", shortDir + "\\sdf.xml"}));

  // At the limit: a path of 259 characters is offered, one of 260 is not.
  const size_t room = 259 - dir_.size() - 1 - std::string("\\sdf.xml").size();
  for (size_t extra : {0, 1}) {
    const std::string name(room + extra, 'l');
    file(name + "\\sdf.xml");
    ASSERT_EQ(259u + extra, childPath(dir_ + "/" + name, kWindowsHost, "sdf.xml").size());
    GrowableArgList args;
    args.push("setup");
    LaunchOptions given;
    given.installPathGiven = true;
    addLauncherOptions(args, given, dir_ + "/" + name, kWindowsHost);
    const Strings offered{"setup", "-sdf", dir_ + "/" + name + "\\sdf.xml"};
    EXPECT_EQ(elements(args), extra == 0 ? offered : Strings{"setup"});
  }

  // Linux: a path of 4095 characters is offered. (One of 4096 the system
  // itself refuses to look up.)
  std::string deep = dir_;
  while (deep.size() + 1 + 200 + 8 < 4095) deep += "/" + std::string(200, 'x');
  deep += "/" + std::string(4095 - 8 - deep.size() - 1, 'y');
  std::filesystem::create_directories(deep);
  const std::string sdf = childPath(deep, kLinuxHost, "sdf.xml");
  std::ofstream(sdf) << "";
  ASSERT_EQ(sdf.size(), 4095u);
  ASSERT_TRUE(std::filesystem::exists(sdf));
  GrowableArgList linux;
  linux.push("setup");
  LaunchOptions onLinux;
  onLinux.installPathGiven = true;
  addLauncherOptions(linux, onLinux, deep, kLinuxHost);
  EXPECT_EQ(elements(linux), (Strings{"setup", "-sdf", sdf}));
}

TEST(PatchFilter, OnlyDefaultSectionsLoseThePatchOption) {
  GrowableArgList args;
  pushAll(args, {"-patch", "-patch", "-PATCH", "-yum", "-patch", "-global", "x", "-patch"});
  removePatchOptions(args);
  EXPECT_EQ(elements(args), (Strings{"-PATCH", "-yum", "-patch", "-global", "x"}));
}

}  // namespace
}  // namespace kv
