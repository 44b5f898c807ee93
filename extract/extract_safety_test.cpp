// Archive entries never write outside the target directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <iterator>
#include <string>
#include <vector>

#include "extract/extract_archive.h"
#include "extract/extract_test_support.h"

namespace kv {
namespace {

using namespace extract_test;
using Calls = std::vector<std::string>;

class ExtractSafetyTest : public testing::Test {
 protected:
  // Extracts an archive holding `names` (each with the content "evil") into
  // work/target.
  Extraction extractNames(const std::vector<std::string>& names) {
    writeFile(dir_ / "payload", "evil");
    makeNamed7z(dir_ / "a.7z", dir_ / "payload", names);
    stdfs::create_directories(target());
    return extractFile(dir_ / "a.7z", target(), &progress_);
  }
  std::string work() const { return dir_ / "work"; }
  std::string target() const { return dir_ / "work/target"; }

  TempDir dir_;
  RecordingProgress progress_;
};

TEST_F(ExtractSafetyTest, RefusesNamesThatLeaveTheTarget) {
  for (const std::string name : {"../x", "a/../../x", "..\\x", "a\\..\\..\\x", "C:\\x", "C:x",
                                 "/abs/x", "\\abs\\x", ".../x", ".kvstage-1-a/x"}) {
    SCOPED_TRACE(name);
    stdfs::remove_all(work());
    progress_.calls.clear();
    const Extraction run = extractNames({name, "after.txt"});
    EXPECT_EQ(run.result, 11);
    EXPECT_EQ(run.output, "Refusing unsafe archive entry '" + name + "'\n");
    EXPECT_EQ(progress_.calls, (Calls{"start(2)", "finish()"}));
    // Nothing written anywhere: not outside, not inside, and no later entry.
    EXPECT_TRUE(stdfs::is_empty(target()));
    EXPECT_EQ(std::distance(stdfs::directory_iterator(work()), stdfs::directory_iterator()), 1);
    EXPECT_FALSE(stdfs::exists(dir_ / "x"));
    EXPECT_FALSE(stdfs::exists("/abs/x"));
  }
}

TEST_F(ExtractSafetyTest, SafeEntriesBeforeARefusedOneStayWritten) {
  const Extraction run = extractNames({"good/one.txt", "../x"});
  EXPECT_EQ(run.result, 11);
  EXPECT_EQ(readFile(target() + "/good/one.txt"), "evil");
  EXPECT_FALSE(stdfs::exists(work() + "/x"));
  EXPECT_EQ(progress_.calls, (Calls{"start(2)", "update(1)", "finish()"}));
}

TEST_F(ExtractSafetyTest, RefusesToWriteThroughASymbolicLinkedFolder) {
  stdfs::create_directories(dir_ / "outside");
  stdfs::create_directories(target());
  stdfs::create_directory_symlink(dir_ / "outside", target() + "/link");
  const Extraction run = extractNames({"link/x"});
  EXPECT_EQ(run.result, 11);
  EXPECT_EQ(run.output, "Refusing unsafe archive entry 'link/x'\n");
  EXPECT_TRUE(stdfs::is_empty(dir_ / "outside"));
}

TEST_F(ExtractSafetyTest, RefusesASymbolicLinkDeeperInTheTree) {
  stdfs::create_directories(dir_ / "outside");
  stdfs::create_directories(target() + "/a");
  stdfs::create_directory_symlink(dir_ / "outside", target() + "/a/b");
  const Extraction run = extractNames({"a/b/c/x"});
  EXPECT_EQ(run.result, 11);
  EXPECT_EQ(run.output, "Refusing unsafe archive entry 'a/b/c/x'\n");
  EXPECT_TRUE(stdfs::is_empty(dir_ / "outside"));
}

TEST_F(ExtractSafetyTest, NeverWritesAFileThroughASymbolicLink) {
  // A link in the file's own place (an earlier version's link entry) is
  // replaced by the file; what it pointed to stays as it was.
  writeFile(dir_ / "outside/victim", "precious");
  stdfs::create_directories(target());
  stdfs::create_symlink(dir_ / "outside/victim", target() + "/file.txt");
  stdfs::create_symlink(dir_ / "outside/missing", target() + "/dangling.txt");
  Extraction run = extractNames({"file.txt", "dangling.txt"});
  EXPECT_EQ(run.result, 0);
  EXPECT_FALSE(stdfs::is_symlink(target() + "/file.txt"));
  EXPECT_FALSE(stdfs::is_symlink(target() + "/dangling.txt"));
  EXPECT_EQ(readFile(target() + "/file.txt"), "evil");
  EXPECT_EQ(readFile(target() + "/dangling.txt"), "evil");
  EXPECT_EQ(readFile(dir_ / "outside/victim"), "precious");
  EXPECT_FALSE(stdfs::exists(dir_ / "outside/missing"));
}

TEST_F(ExtractSafetyTest, TargetReachedThroughASymbolicLinkIsFine) {
  stdfs::create_directories(dir_ / "real");
  stdfs::create_directories(work());
  stdfs::create_directory_symlink(dir_ / "real", target());
  const Extraction run = extractNames({"sub/file.txt"});
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(readFile(dir_ / "real/sub/file.txt"), "evil");
}

}  // namespace
}  // namespace kv
