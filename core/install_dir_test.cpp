#include "core/install_dir.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "base/fs.h"
#include "core/host_rules.h"
#include "test_support.h"

namespace kv {
namespace {

namespace stdfs = std::filesystem;
using kvtest::readFile;
using kvtest::writeFile;

using Prefixes = std::vector<std::string>;

// The Linux installer's profile folder, below an install directory.
constexpr char kProfile[] = "/maintenance/kvInstaller/kvProfiles/Installer.x86-linux2.profile";

// checkInstallDir()'s message for `path`, or "" when the check passes.
std::string rejection(const std::string& path, const HostRules& rules) {
  std::string message;
  if (checkInstallDir(path, rules, &message)) return "";
  EXPECT_FALSE(message.empty());
  return message;
}

TEST(DirectoryPrefixes, EachLevelThenTheWholePath) {
  EXPECT_EQ(directoryPrefixes("/a/b/c", kLinuxHost), (Prefixes{"/a", "/a/b", "/a/b/c"}));
  EXPECT_EQ(directoryPrefixes("rel/x", kLinuxHost), (Prefixes{"rel", "rel/x"}));
  EXPECT_EQ(directoryPrefixes("/a/b/", kLinuxHost), (Prefixes{"/a", "/a/b", "/a/b/"}));
  EXPECT_EQ(directoryPrefixes("/top", kLinuxHost), (Prefixes{"/top"}));
}

TEST(DirectoryPrefixes, BackslashesCountAsSlashes) {
  EXPECT_EQ(directoryPrefixes("/a\\b/c\\d", kLinuxHost),
            (Prefixes{"/a", "/a/b", "/a/b/c", "/a/b/c/d"}));
  EXPECT_EQ(directoryPrefixes("C:\\kv/inst", kWindowsHost),
            (Prefixes{"C:", "C:/kv", "C:/kv/inst"}));
}

TEST(DirectoryPrefixes, WindowsNetworkPathStartsAtTheShare) {
  const Prefixes expected{"//server/share", "//server/share/folder"};
  EXPECT_EQ(directoryPrefixes("//server/share/folder", kWindowsHost), expected);
  EXPECT_EQ(directoryPrefixes("\\\\server\\share\\folder", kWindowsHost), expected);
  EXPECT_EQ(directoryPrefixes("\\\\server/share\\folder", kWindowsHost), expected);
  EXPECT_EQ(directoryPrefixes("//server/share", kWindowsHost), (Prefixes{"//server/share"}));
  EXPECT_EQ(directoryPrefixes("//server", kWindowsHost), (Prefixes{"//server"}));
  // Linux has no such rule: "/" is a directory like any other.
  EXPECT_EQ(directoryPrefixes("//server/share", kLinuxHost),
            (Prefixes{"/", "//server", "//server/share"}));
}

class InstallDirTest : public ::testing::Test {
 protected:
  // The scratch folder's removal restores the permissions a test took away.
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    root_ = scratch_.path();
  }

  std::string path(const std::string& relative) const { return (root_ / relative).string(); }

  static std::vector<std::string> names(const std::string& dir) {
    std::vector<std::string> out;
    for (const auto& entry : stdfs::directory_iterator(dir)) out.push_back(entry.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }

  kvtest::ScratchDir scratch_;
  stdfs::path root_;
};

TEST_F(InstallDirTest, MakeDirsCreatesEveryMissingLevel) {
  std::string target = path("one/two/three");
  EXPECT_TRUE(makeDirs(target, kLinuxHost));
  EXPECT_TRUE(stdfs::is_directory(target));
  EXPECT_TRUE(makeDirs(target, kLinuxHost));  // existing levels are fine
}

TEST_F(InstallDirTest, MakeDirsTurnsBackslashesIntoSlashes) {
  EXPECT_TRUE(makeDirs(root_.string() + "\\mixed/a\\b", kLinuxHost));
  EXPECT_TRUE(stdfs::is_directory(path("mixed/a/b")));
  EXPECT_FALSE(stdfs::exists(root_.string() + "\\mixed"));
}

TEST_F(InstallDirTest, CheckCreatesTheDirectoryAndLeavesNoProbe) {
  std::string target = path("a/b/c");
  EXPECT_EQ(rejection(target, kLinuxHost), "");
  EXPECT_TRUE(stdfs::is_directory(target));
  EXPECT_TRUE(names(target).empty());
}

TEST_F(InstallDirTest, CheckKeepsAnExistingLogUnchanged) {
  writeFile(path("setup.log"), "earlier run\n");
  EXPECT_EQ(rejection(root_.string(), kLinuxHost), "");
  EXPECT_EQ(readFile(path("setup.log")), "earlier run\n");
}

TEST_F(InstallDirTest, CheckKeepsALogSpelledInOtherCaseWhereCaseIsIgnored) {
  HostRules caseless = kLinuxHost;
  caseless.caseInsensitiveFileNames = true;
  writeFile(path("SETUP.LOG"), "keep me\n");
  EXPECT_EQ(rejection(root_.string(), caseless), "");
  EXPECT_EQ(readFile(path("SETUP.LOG")), "keep me\n");
  // On this case-sensitive test file system the probe became a second file;
  // that it stays shows the probe was taken for the existing log, which on a
  // file system that ignores case is the very same file.
  EXPECT_TRUE(stdfs::exists(path("setup.log")));

  // Where case counts, "SETUP.LOG" is another file: the probe goes again.
  stdfs::remove(path("setup.log"));
  EXPECT_EQ(rejection(root_.string(), kLinuxHost), "");
  EXPECT_EQ(names(root_.string()), (std::vector<std::string>{"SETUP.LOG"}));
}

TEST_F(InstallDirTest, CheckReportsAPrefixThatIsAFile) {
  writeFile(path("file"), "x");
  std::string target = path("file/inst/deeper");
  EXPECT_EQ(rejection(target, kLinuxHost),
            "ERROR: directory " + target + " cannot be created: " + std::to_string(EEXIST) + ".");
  EXPECT_FALSE(makeDirs(target, kLinuxHost));  // no message asked for
}

TEST_F(InstallDirTest, CheckReportsAProbeThatCannotBeOpened) {
  // A directory named "setup.log" cannot be opened for appending, even by root.
  stdfs::create_directories(path("inst/setup.log"));
  std::string target = path("inst");
  EXPECT_EQ(rejection(target, kLinuxHost), "ERROR: cannot write to install directory (" + target +
                                               "): " + std::to_string(EISDIR) + ".");
  EXPECT_TRUE(stdfs::is_directory(path("inst/setup.log")));
}

TEST_F(InstallDirTest, CheckReportsAReadOnlyDirectory) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
  std::string target = path("ro");
  stdfs::create_directories(target);
  ::chmod(target.c_str(), 0555);
  EXPECT_EQ(rejection(target, kLinuxHost), "ERROR: cannot write to install directory (" + target +
                                               "): " + std::to_string(EACCES) + ".");
  ::chmod(target.c_str(), 0755);
}

TEST_F(InstallDirTest, EmptyingRemovesPlainFilesButNotHiddenOnes) {
  const std::string profile = root_.string() + kProfile;
  stdfs::create_directories(profile);
  for (const char* name : {"a.txt", "b.bin", "c", ".hidden"}) writeFile(profile + "/" + name, "x");
  emptyInstallerProfile(root_.string(), kLinuxHost);
  EXPECT_EQ(names(profile), (std::vector<std::string>{".hidden"}));

  const std::string missing = path("no/such/install");
  emptyInstallerProfile(missing, kLinuxHost);
  EXPECT_FALSE(stdfs::exists(missing));
}

TEST_F(InstallDirTest, EmptyingNeverFollowsALink) {
  const std::string outside = path("outside");
  stdfs::create_directories(outside);
  writeFile(outside + "/keep", "x");
  const std::string install = path("inst");
  const std::string profile = install + kProfile;
  stdfs::create_directories(stdfs::path(profile).parent_path());

  // A link in place of the profile folder goes, as a link.
  stdfs::create_directory_symlink(outside, profile);
  emptyInstallerProfile(install, kLinuxHost);
  EXPECT_FALSE(stdfs::exists(stdfs::symlink_status(profile)));
  EXPECT_TRUE(stdfs::exists(outside + "/keep"));

  // Links among the entries go themselves, not what they lead to.
  stdfs::create_directories(profile);
  stdfs::create_symlink(outside + "/keep", profile + "/file-link");
  stdfs::create_directory_symlink(outside, profile + "/dir-link");
  emptyInstallerProfile(install, kLinuxHost);
  EXPECT_TRUE(stdfs::is_empty(profile));
  EXPECT_TRUE(stdfs::exists(outside + "/keep"));

  // A link on the way to it: nothing is touched.
  const std::string elsewhere = path("elsewhere");
  stdfs::create_directories(elsewhere + "/Installer.x86-linux2.profile");
  writeFile(elsewhere + "/Installer.x86-linux2.profile/keep", "x");
  stdfs::remove_all(install + "/maintenance/kvInstaller/kvProfiles");
  stdfs::create_directory_symlink(elsewhere, install + "/maintenance/kvInstaller/kvProfiles");
  emptyInstallerProfile(install, kLinuxHost);
  EXPECT_TRUE(stdfs::exists(elsewhere + "/Installer.x86-linux2.profile/keep"));
  EXPECT_TRUE(stdfs::is_symlink(install + "/maintenance/kvInstaller/kvProfiles"));
}

TEST_F(InstallDirTest, EmptyingStopsAtTheFirstSubdirectory) {
  const std::string dir = root_.string() + kProfile;
  stdfs::create_directories(dir + "/sub");
  for (const char* name : {"f1", "f2", "f3", "f4"}) writeFile(dir + "/" + name, "x");
  // Entries come in the listing's order; those before "sub" go, the rest stay.
  std::vector<std::string> listed;
  {
    fs::DirectoryReader reader(dir);
    std::string name;
    while (reader.next(name)) {
      if (name[0] != '.') listed.push_back(name);
    }
  }
  emptyInstallerProfile(root_.string(), kLinuxHost);
  bool afterSub = false;
  for (const std::string& name : listed) {
    if (name == "sub") afterSub = true;
    EXPECT_EQ(stdfs::exists(dir + "/" + name), afterSub) << name;
  }
}

}  // namespace
}  // namespace kv
