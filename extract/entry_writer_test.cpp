// EntryWriter's placing rules, with the folders' bytes handed over in an
// order of the test's choosing (as writers on several threads may finish):
// files go in place in archive order only, never one that failed its
// check, and none after it.
#include "extract/entry_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "extract/extract_test_support.h"

namespace kv {
namespace {

using namespace extract_test;
using Calls = std::vector<std::string>;

struct PlacingCase {
  const char* label;
  int broken;  // entry whose bytes arrive damaged, -1 for none
  int result;
  Calls progress;
};

class EntryWriterTest : public testing::TestWithParam<PlacingCase> {};

TEST_P(EntryWriterTest, PlacesInArchiveOrderUpToTheFirstFailure) {
  const PlacingCase& c = GetParam();
  TempDir dir;
  for (int i = 0; i < 3; ++i) writeFile(dir / ("src/f" + std::to_string(i)), randomBytes(5000, i));
  make7z(dir / "a.7z", dir / "src", "-m0=Copy -ms=off");
  writeFile(dir / "out/f2", "installed before");

  FilePtr in = openFile(dir / "a.7z", "rb");
  BlockStream stream(in.get(), 0, static_cast<uint32_t>(stdfs::file_size(dir / "a.7z")));
  Archive archive;
  ASSERT_EQ(archive.open(stream.lookStream()), 0);
  const CSzArEx& db = archive.database();
  FolderFiles folderFiles;
  ASSERT_TRUE(folderFiles.build(db));
  ASSERT_EQ(folderFiles.folderCount(), 3u);
  std::string staging;
  ASSERT_EQ(output::makeStagingFolder(dir / "out", &staging), 0);

  RecordingProgress progress;
  std::atomic<UInt32> stopIndex(db.NumFiles);
  {
    EntryWriter writer(dir / "out", staging, archive, folderFiles, &progress, nullptr, stopIndex);
    ASSERT_TRUE(writer.ok());
    auto hand = [&](UInt32 folder) {
      const UInt32 index = folderFiles.of(folder).front();
      std::string bytes = readFile(dir / ("src/" + archive.entry(index).name));
      if (static_cast<int>(index) == c.broken) bytes[100] ^= 0x01;
      writer.data(folder, reinterpret_cast<const Byte*>(bytes.data()), bytes.size());
      writer.folderEnd(folder, SZ_OK);
    };
    // The last two complete first: neither may go in place before the first.
    hand(2);
    hand(1);
    writer.placeWhileWriting(0);
    EXPECT_TRUE(progress.calls.empty());
    hand(0);
    writer.finishCommits();
    EXPECT_EQ(writer.result(), c.result);
  }
  output::removeStagingFolder(staging);

  EXPECT_EQ(progress.calls, c.progress);
  const size_t placed = c.progress.size();
  for (UInt32 i = 0; i < 3; ++i) {
    const std::string name = archive.entry(i).name;
    const std::string expected =
        i < placed ? readFile(dir / ("src/" + name)) : (name == "f2" ? "installed before" : "");
    if (expected.empty()) {
      EXPECT_FALSE(stdfs::exists(dir / ("out/" + name))) << name;
    } else {
      EXPECT_EQ(readFile(dir / ("out/" + name)), expected) << name;
    }
  }
}

const PlacingCase kPlacingCases[] = {
    {"AllSound", -1, 0, {"update(1)", "update(2)", "update(3)"}},
    {"FirstBroken", 0, 3, {}},
    {"MiddleBroken", 1, 3, {"update(1)"}},
};

INSTANTIATE_TEST_SUITE_P(Placing, EntryWriterTest, testing::ValuesIn(kPlacingCases),
                         [](const testing::TestParamInfo<PlacingCase>& info) {
                           return std::string(info.param.label);
                         });

}  // namespace
}  // namespace kv
