// The extraction lock of an install directory: held while the object
// lives, released when it goes, and absent (not an error) for a folder
// that cannot be opened.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "base/fs.h"
#include "test_support.h"

namespace kv {
namespace {

// Whether another open of `path` (a folder or a file) could take the lock
// right now.
bool lockIsFree(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  ::close(fd);
  return free;
}

TEST(DirectoryLockTest, HeldWhileAliveAndReleasedAfterwards) {
  kvtest::ScratchDir dir;
  {
    fs::DirectoryLock lock(dir.path());
    EXPECT_FALSE(lockIsFree(dir.path()));
  }
  EXPECT_TRUE(lockIsFree(dir.path()));
}

TEST(DirectoryLockTest, AddsNoFileToTheDirectory) {
  kvtest::ScratchDir dir;
  fs::DirectoryLock lock(dir.path());
  fs::DirectoryReader reader(dir.path());
  std::string name;
  int entries = 0;
  while (reader.next(name)) ++entries;
  EXPECT_EQ(entries, 2);  // "." and ".."
}

TEST(DirectoryLockTest, MissingDirectoryOrPlainFileIsNotLocked) {
  kvtest::ScratchDir dir;
  fs::DirectoryLock missing(dir / "missing");
  EXPECT_FALSE(fs::entryExists(dir / "missing"));
  { FilePtr f = openFile(dir / "file", "w"); }
  fs::DirectoryLock file(dir / "file");
  EXPECT_TRUE(lockIsFree(dir / "file"));
}

}  // namespace
}  // namespace kv
