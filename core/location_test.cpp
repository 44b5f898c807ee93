#include "core/location.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/fs.h"
#include "test_support.h"

namespace kv {
namespace {

using kvtest::Block;
using kvtest::ScratchDir;

const char kLinuxCharsMessage[] =
    "Your installation could not be completed because the location you specified includes invalid "
    "characters.\nThe installation path may not contain the following "
    "characters:\n:%#<>\"!?<space>";
const char kProductsMessage[] =
    "Error: KV installer can't run; this location contains no Korvane products.\n";

// The validator's message for `path`, or "" when the path passes.
std::string rejection(const LocationValidator& validator, const std::string& path, std::string& out,
                      bool requireProducts) {
  std::string message;
  if (validator.check(path, out, requireProducts, &message)) return "";
  EXPECT_FALSE(message.empty());
  return message;
}

// A launcher file with or without installer and runtime blocks.
struct Launcher {
  explicit Launcher(const ScratchDir& dir, bool withPayload) {
    std::vector<Block> blocks;
    if (withPayload) blocks = {{'i', "installer"}, {'j', "runtime"}, {'r', "REL"}};
    kvtest::writeLauncher(dir / "launcher", "IMAGE", blocks);
    file = openFile(dir / "launcher", "rb");
  }
  FilePtr file;
};

TEST(LocationValidatorTest, LinuxPathRules) {
  ScratchDir dir;
  Launcher launcher(dir, true);
  LocationValidator validator(launcher.file.get(), kLinuxHost, false, dir.path());
  std::string out;

  // "~/" stands for the home folder; the folder is created by the check.
  EXPECT_EQ(rejection(validator, "~/inst/deep", out, true), "");
  EXPECT_EQ(out, dir / "inst/deep");
  EXPECT_TRUE(fs::isDirectory(dir / "inst/deep"));

  EXPECT_EQ(rejection(validator, "inst", out, true), "ERROR: inst is an invalid path.");
  EXPECT_EQ(rejection(validator, "~inst", out, true), "ERROR: ~inst is an invalid path.");
  EXPECT_EQ(rejection(validator, "", out, true), "ERROR:  is an invalid path.");
  EXPECT_EQ(rejection(validator, dir / "a b", out, true), kLinuxCharsMessage);
  EXPECT_EQ(rejection(validator, dir / "a:b", out, true), kLinuxCharsMessage);
  EXPECT_FALSE(fs::exists(dir / "a:b"));

  LocationValidator spaces(launcher.file.get(), kLinuxHost, true, dir.path());
  std::string message = rejection(spaces, dir / "a?b", out, false);
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.substr(message.size() - 9), "\n:%#<>\"!?");
  EXPECT_EQ(rejection(spaces, dir / "a b", out, false), "");
}

TEST(LocationValidatorTest, LinuxLengthKeepsTheInstallerPathWithinItsLimit) {
  ScratchDir dir;
  Launcher launcher(dir, true);
  LocationValidator validator(launcher.file.get(), kLinuxHost, false, dir.path());
  int limit = maxLocationLength(kLinuxHost);
  EXPECT_EQ(limit, 1023 - 47);
  std::string out;
  std::string tooLong = "/" + std::string(static_cast<size_t>(limit), 'x');
  EXPECT_EQ(rejection(validator, tooLong, out, false),
            "Your installation could not be completed because the location you specified has more "
            "than " +
                std::to_string(limit) + " characters.");
}

TEST(LocationValidatorTest, WindowsCharacterAndLengthRules) {
  ScratchDir dir;
  Launcher noBundle(dir, false);
  // Without a bundle and with nothing installed the product check is the
  // first rule after characters and length to reject, which proves that the
  // path passed those two without touching the disk.
  LocationValidator validator(noBundle.file.get(), kWindowsHost, false, "");
  std::string out;
  std::string message = rejection(validator, "C:\\Program Files\\X", out, true);
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.substr(message.size() - 15), "\n%#<>\"!?<space>");

  LocationValidator spaces(noBundle.file.get(), kWindowsHost, true, "");
  EXPECT_EQ(rejection(spaces, "C:\\Program Files\\X", out, true), kProductsMessage);
  message = rejection(spaces, "C:\\a#b", out, true);
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.back(), '?');
  EXPECT_EQ(rejection(validator, "C:\\a:b", out, true), kProductsMessage);

  std::string hundred = "C:\\" + std::string(97, 'x');
  EXPECT_EQ(rejection(validator, hundred, out, true), kProductsMessage);
  EXPECT_EQ(rejection(validator, hundred + "x", out, true),
            "Your installation could not be completed because the location you specified has more "
            "than 100 characters.");
  // Characters are tested before the length.
  message = rejection(validator, hundred + "x#", out, true);
  ASSERT_FALSE(message.empty());
  EXPECT_NE(message.find("invalid characters"), std::string::npos);
  // "~/" means nothing on Windows.
  EXPECT_EQ(rejection(validator, "~/x", out, true), kProductsMessage);
}

TEST(HostRulesTest, WholePathsNameOnePlaceFromAnyFolderAndDrive) {
  for (const char* whole : {"C:\\x", "c:/x", "\\\\server\\share", "//server/share", "C:\\"})
    EXPECT_TRUE(isWholePath(kWindowsHost, whole)) << whole;
  for (const char* partial : {"relinst", "Z:relinst", "\\relinst", "/relinst", "C:", ""})
    EXPECT_FALSE(isWholePath(kWindowsHost, partial)) << partial;
  EXPECT_TRUE(isWholePath(kLinuxHost, "/opt/x"));
  EXPECT_FALSE(isWholePath(kLinuxHost, "opt/x"));
}

TEST(LocationValidatorTest, ProductRequirement) {
  ScratchDir dir;
  Launcher noBundle(dir, false);
  LocationValidator validator(noBundle.file.get(), kLinuxHost, false, dir.path());
  std::string out;
  EXPECT_EQ(rejection(validator, dir / "empty", out, true), kProductsMessage);
  EXPECT_FALSE(fs::exists(dir / "empty"));
  // A download location needs no products.
  EXPECT_EQ(rejection(validator, dir / "download", out, false), "");

  // An installed installer with the older runtime folder can run.
  kvtest::writeFile(dir / "inst/maintenance/kvInstaller/x86-linux2/kvInstaller", "#!/bin/sh\n");
  kvtest::runShell("mkdir -p '" + dir / "inst/jre/1.6.0_06/x86-linux2" + "'");
  EXPECT_EQ(rejection(validator, dir / "inst", out, true), "");
}

// Feeds `input` to the prompt and collects what it wrote.
struct PromptRun {
  PromptRun(const std::string& input, std::optional<std::string> defaultLocation,
            const LocationValidator& validator) {
    FilePtr in(tmpfile()), out(tmpfile()), err(tmpfile());
    std::fputs(input.c_str(), in.get());
    std::rewind(in.get());
    result = promptForInstallDir(in.get(), out.get(), err.get(), defaultLocation, validator);
    stdoutText = contents(out.get());
    stderrText = contents(err.get());
  }
  static std::string contents(std::FILE* f) {
    std::rewind(f);
    std::string text;
    int c;
    while ((c = std::fgetc(f)) != EOF) text.push_back(static_cast<char>(c));
    return text;
  }
  std::optional<std::string> result;
  std::string stdoutText, stderrText;
};

TEST(ConsolePromptTest, DefaultTypedRejectedAndEndOfInput) {
  ScratchDir dir;
  Launcher launcher(dir, true);
  LocationValidator validator(launcher.file.get(), kLinuxHost, false, dir.path());

  PromptRun enter("\n", dir / "def", validator);
  EXPECT_EQ(enter.result, dir / "def");
  EXPECT_EQ(enter.stdoutText, "Default install directory: " + dir / "def" +
                                  "\nEnter install directory or press enter\n>");

  PromptRun typed(" \t ~/typed  \n", dir / "def", validator);
  EXPECT_EQ(typed.result, dir / "typed");

  // A rejected default is dropped: the short prompt follows, Enter alone asks
  // again, and the end of input gives no path.
  PromptRun rejected("\n\n", std::string("relative"), validator);
  EXPECT_EQ(rejected.result, std::nullopt);
  EXPECT_EQ(rejected.stdoutText,
            "Default install directory: relative\nEnter install directory or press enter\n>"
            "Enter install directory\n>Enter install directory\n>");
  EXPECT_EQ(rejected.stderrText, "ERROR: relative is an invalid path.\n");

  // Typing a rejected text by hand keeps the default.
  PromptRun byHand("bad\n\n", dir / "def2", validator);
  EXPECT_EQ(byHand.result, dir / "def2");
  EXPECT_EQ(byHand.stderrText, "ERROR: bad is an invalid path.\n");
}

}  // namespace
}  // namespace kv
