#include "platform/linux/location_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>

#include "base/fs.h"
#include "core/platform.h"
#include "test_support.h"

namespace kv {
namespace {

using kvtest::readFile;
using kvtest::ScopedEnv;
using kvtest::ScratchDir;
using kvtest::writeFile;

TEST(LocationStoreTest, DefaultsWithoutStoredLocation) {
  ScratchDir home;
  LocationStore store;
  EXPECT_EQ(home / "Korvane", store.read(home.path(), "", ""));
  EXPECT_EQ(home / "Acme", store.read(home.path(), "", "Acme"));
  EXPECT_EQ(home / "Acme", store.read(home.path(), "prod1", "Acme"));
  EXPECT_EQ(home / "Korvane", store.read(home.path(), "prod1", ""));
}

TEST(LocationStoreTest, NoHomeFolderGivesBareFolderNameAndStoresNothing) {
  LocationStore store;
  EXPECT_EQ("Korvane", store.read("", "", ""));
  EXPECT_EQ("Acme", store.read("", "key", "Acme"));
  store.write("", "key", "/opt/x");  // nowhere to write: no effect, no crash
  EXPECT_EQ("Acme", store.read("", "key", "Acme"));
}

TEST(LocationStoreTest, UnkeyedRoundTripHasNoLineEnd) {
  ScratchDir home;
  LocationStore store;
  store.write(home.path(), "", "/opt/korvane/inst");
  EXPECT_EQ("/opt/korvane/inst", readFile(home / ".kvInstaller.loc"));
  EXPECT_EQ("/opt/korvane/inst", store.read(home.path(), "", "Other"));
  store.write(home.path(), "", "/a");  // truncates the longer value
  EXPECT_EQ("/a", readFile(home / ".kvInstaller.loc"));
}

TEST(LocationStoreTest, UnkeyedFileKeepsLineEndAndReadsFirstLineOnly) {
  ScratchDir home;
  LocationStore store;
  writeFile(home / ".kvInstaller.loc", "/home/u/edited\nsecond line\n");
  EXPECT_EQ("/home/u/edited\n", store.read(home.path(), "", ""));

  writeFile(home / ".kvInstaller.loc", std::string(1500, 'x'));
  EXPECT_EQ(std::string(1023, 'x'), store.read(home.path(), "", ""));

  writeFile(home / ".kvInstaller.loc", "");
  EXPECT_EQ(home / "Korvane", store.read(home.path(), "", ""));
}

TEST(LocationStoreTest, KeyedStoreKeepsOtherProductsAndIgnoresKeyCase) {
  ScratchDir home;
  writeFile(home / ".kvInstaller.locations",
            "# remembered\nPRODA = /opt/a\nprodB=/opt/b\nblank =\n");
  LocationStore store;
  EXPECT_EQ("/opt/a", store.read(home.path(), "proda", "Folder"));
  EXPECT_EQ(home / "Folder", store.read(home.path(), "prodC", "Folder"));

  store.write(home.path(), "prodC", "/opt/c");
  std::string saved = readFile(home / ".kvInstaller.locations");
  EXPECT_NE(std::string::npos, saved.find("PRODA = /opt/a\n"));
  EXPECT_NE(std::string::npos, saved.find("prodB = /opt/b\n"));
  EXPECT_NE(std::string::npos, saved.find("prodC = /opt/c\n"));
  EXPECT_EQ(std::string::npos, saved.find("#"));
  EXPECT_EQ(std::string::npos, saved.find("blank"));

  LocationStore fresh;
  EXPECT_EQ("/opt/c", fresh.read(home.path(), "PRODC", ""));
  EXPECT_EQ("/opt/b", fresh.read(home.path(), "PRODB", ""));
}

TEST(LocationStoreTest, WriteWithoutEarlierReadKeepsStoredProducts) {
  ScratchDir home;
  writeFile(home / ".kvInstaller.locations", "prodA = /opt/a\n");
  LocationStore store;  // the location came from the command line: no read
  store.write(home.path(), "prodB", "/opt/b");
  LocationStore fresh;
  EXPECT_EQ("/opt/a", fresh.read(home.path(), "prodA", ""));
  EXPECT_EQ("/opt/b", fresh.read(home.path(), "prodB", ""));
}

TEST(LocationStoreTest, WriteReloadsFileAndReplacesItWithoutFollowingLinks) {
  ScratchDir home;
  const std::string file = home / ".kvInstaller.locations";
  LocationStore first, second;
  EXPECT_EQ(home / "A", first.read(home.path(), "prodA", "A"));  // loaded at start-up
  second.write(home.path(), "prodB", "/opt/b");                  // stored meanwhile
  ::chmod(file.c_str(), 0640);
  first.write(home.path(), "prodA", "/opt/a");
  LocationStore fresh;
  EXPECT_EQ("/opt/a", fresh.read(home.path(), "prodA", ""));
  EXPECT_EQ("/opt/b", fresh.read(home.path(), "prodB", ""));
  struct stat st;
  ASSERT_EQ(0, ::stat(file.c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);

  // A link at either name is neither read nor written through nor replaced.
  writeFile(home / "secret", "prodC = /leaked\n");
  for (const char* name : {".kvInstaller.locations", ".kvInstaller.loc"}) {
    ::unlink((home / name).c_str());
    ::symlink((home / "secret").c_str(), (home / name).c_str());
  }
  LocationStore linked;
  EXPECT_EQ(home / "C", linked.read(home.path(), "prodC", "C"));
  linked.write(home.path(), "prodD", "/opt/d");
  linked.write(home.path(), "", "/opt/u");
  EXPECT_EQ("prodC = /leaked\n", readFile(home / "secret"));
  EXPECT_TRUE(std::filesystem::is_symlink(file));
  EXPECT_TRUE(std::filesystem::is_symlink(home / ".kvInstaller.loc"));
  EXPECT_EQ(3u, static_cast<size_t>(std::distance(std::filesystem::directory_iterator(home.path()),
                                                  std::filesystem::directory_iterator())));
}

TEST(LocationStoreTest, WriteNeverWaitsOnTheExtractionLockOfTheHomeFolder) {
  // Installing into the home folder itself: its extraction lock is held
  // (here by this process) while the locations are stored.
  ScratchDir home;
  fs::DirectoryLock extraction(home.path());
  const int other = ::open(home.path().c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);  // held indeed
  ::close(other);
  const auto started = std::chrono::steady_clock::now();
  LocationStore store;
  store.write(home.path(), "prodA", "/opt/a");
  store.write(home.path(), "", "/opt/u");
  // A wait on that lock would last seconds.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_EQ("/opt/a", LocationStore().read(home.path(), "prodA", ""));
  EXPECT_EQ("/opt/u", readFile(home / ".kvInstaller.loc"));
  EXPECT_EQ(2u, static_cast<size_t>(std::distance(std::filesystem::directory_iterator(home.path()),
                                                  std::filesystem::directory_iterator())));
}

TEST(LocationStoreTest, OversizedKeyedFileIsNeitherLoadedNorReplaced) {
  ScratchDir home;
  const std::string file = home / ".kvInstaller.locations";
  const std::string content = "prodA = /opt/a\n" + std::string(2 << 20, '#') + "\n";
  writeFile(file, content);
  LocationStore store;
  EXPECT_EQ(home / "A", store.read(home.path(), "prodA", "A"));
  store.write(home.path(), "prodB", "/opt/b");
  EXPECT_EQ(content, readFile(file));
}

TEST(LocationStoreTest, OverlongHomeIsNeitherReadNorWritten) {
  std::string home = "/tmp/" + std::string(4100, 'h');
  EXPECT_EQ("", locationFilePath(home, "key"));
  EXPECT_EQ("/h/.kvInstaller.locations", locationFilePath("/h", "key"));
  EXPECT_EQ("/h/.kvInstaller.loc", locationFilePath("/h", ""));
  LocationStore store;
  EXPECT_EQ(home + "/Korvane", store.read(home, "", ""));
}

TEST(LocationStoreTest, ProcessStoreUsesHomeVariable) {
  ScratchDir home;
  ScopedEnv env("HOME", home.path());
  EXPECT_EQ(home.path(), homeDirectory());
  writeDefaultLocation("", "/srv/inst");
  EXPECT_EQ("/srv/inst", readFile(home / ".kvInstaller.loc"));
  EXPECT_EQ("/srv/inst", readDefaultLocation("", ""));
}

TEST(LocationStoreTest, HomeFromPasswordDatabaseWhenHomeUnsetOrEmpty) {
  const passwd* entry = getpwuid(getuid());
  std::string expected = entry && entry->pw_dir ? entry->pw_dir : "";
  {
    ScopedEnv env("HOME", std::nullopt);
    EXPECT_EQ(expected, homeDirectory());
  }
  {
    ScopedEnv env("HOME", std::string());
    EXPECT_EQ(expected, homeDirectory());
  }
}

}  // namespace
}  // namespace kv
