#include <gtest/gtest.h>

#include <sys/stat.h>
#include <filesystem>

#include "core/platform.h"
#include "test_support.h"

namespace kv {
namespace {

using kvtest::readFile;
using kvtest::ScopedEnv;
using kvtest::ScratchDir;
using kvtest::writeFile;
namespace stdfs = std::filesystem;

TEST(TempFolderTest, NameIsPrivateFolderCreatedUnderTmpdir) {
  ScratchDir tmp;
  ScopedEnv env("TMPDIR", tmp.path() + "/");
  std::string first;
  std::string second;
  ASSERT_TRUE(makeTempFolderName(first));
  ASSERT_TRUE(makeTempFolderName(second));
  EXPECT_NE(first, second);
  EXPECT_EQ(0u, first.find(tmp.path() + "/kvtmp"));
  struct stat status;
  ASSERT_EQ(0, lstat(first.c_str(), &status));
  EXPECT_TRUE(S_ISDIR(status.st_mode));
  EXPECT_EQ(0700u, status.st_mode & 07777);
}

TEST(TempFolderTest, NoNameWhenTmpdirUnusable) {
  ScopedEnv env("TMPDIR", std::string("/nonexistent-kv-folder"));
  std::string name;
  EXPECT_FALSE(makeTempFolderName(name));
}

TEST(TempFolderTest, TmpdirTheLocationCheckRefusesGivesWayToTmp) {
  ScratchDir tmp;
  for (const char* name : {"with space", "with:colon", "with#hash"}) {
    stdfs::create_directories(tmp / name);
    ScopedEnv env("TMPDIR", tmp / name);
    std::string made;
    EXPECT_TRUE(makeTempFolderName(made));
    EXPECT_EQ(0u, made.find("/tmp/kvtmp")) << made;
    EXPECT_TRUE(stdfs::is_empty(tmp / name));
    stdfs::remove(made);
  }
  ScopedEnv relative("TMPDIR", std::string("relative"));
  std::string made;
  EXPECT_TRUE(makeTempFolderName(made));
  EXPECT_EQ(0u, made.find("/tmp/kvtmp")) << made;
  stdfs::remove(made);
}

TEST(TempFolderTest, DeletesTreeButNotWhatLinksPointAt) {
  ScratchDir dir;
  const std::string outside = dir / "outside";
  stdfs::create_directories(outside + "/sub");
  writeFile(outside + "/keep.txt", "keep");
  writeFile(outside + "/sub/keep2.txt", "keep2");

  const std::string tree = dir / "tree";
  stdfs::create_directories(tree + "/a/b/c");
  writeFile(tree + "/top.txt", "x");
  writeFile(tree + "/a/b/c/deep.txt", "y");
  stdfs::create_directory_symlink(outside, tree + "/a/linkToFolder");
  stdfs::create_symlink(outside + "/keep.txt", tree + "/linkToFile");
  stdfs::create_symlink(dir / "missing", tree + "/dangling");

  EXPECT_TRUE(deleteFolderTree(tree));
  EXPECT_FALSE(stdfs::exists(stdfs::symlink_status(tree)));
  EXPECT_EQ("keep", readFile(outside + "/keep.txt"));
  EXPECT_EQ("keep2", readFile(outside + "/sub/keep2.txt"));
}

TEST(TempFolderTest, RefusesMissingFolderAndLinkedFolder) {
  ScratchDir dir;
  EXPECT_FALSE(deleteFolderTree(dir / "missing"));

  stdfs::create_directory(dir / "real");
  writeFile(dir / "real/file", "stays");
  stdfs::create_directory_symlink(dir / "real", dir / "link");
  EXPECT_FALSE(deleteFolderTree(dir / "link"));
  EXPECT_EQ("stays", readFile(dir / "real/file"));
}

TEST(TempFolderTest, FailureStopsAndKeepsFolder) {
  if (geteuid() == 0) GTEST_SKIP() << "root may remove anything";
  ScratchDir dir;
  const std::string tree = dir / "tree";
  stdfs::create_directories(tree + "/locked");
  writeFile(tree + "/locked/file", "x");
  chmod((tree + "/locked").c_str(), 0500);
  EXPECT_FALSE(deleteFolderTree(tree));
  EXPECT_TRUE(stdfs::exists(tree + "/locked/file"));
  chmod((tree + "/locked").c_str(), 0700);
}

}  // namespace
}  // namespace kv
