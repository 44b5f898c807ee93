#include "extract/block_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "base/fs.h"
#include "extract/extract_test_support.h"

namespace kv {
namespace {

using extract_test::TempDir;
using extract_test::writeFile;

class BlockStreamTest : public testing::Test {
 protected:
  void SetUp() override {
    writeFile(dir_ / "file", "XXXXXhello world!YYYYYYYY");
    file_ = openFile(dir_ / "file", "rb");
    ASSERT_TRUE(file_);
  }

  std::string readAll(ISeekInStreamPtr stream, size_t ask) {
    std::string data(ask, '\0');
    size_t size = ask;
    EXPECT_EQ(ISeekInStream_Read(stream, &data[0], &size), SZ_OK);
    data.resize(size);
    return data;
  }

  TempDir dir_;
  FilePtr file_;
};

TEST_F(BlockStreamTest, ReadsOnlyTheBlock) {
  BlockStream stream(file_.get(), 5, 17);
  EXPECT_EQ(fs::tell(file_.get()), 5);
  EXPECT_EQ(readAll(stream.seekStream(), 4), "hell");
  EXPECT_EQ(readAll(stream.seekStream(), 100), "o world!");
  EXPECT_EQ(readAll(stream.seekStream(), 100), "");
}

TEST_F(BlockStreamTest, SeeksRelativeToTheBlock) {
  BlockStream stream(file_.get(), 5, 17);
  ISeekInStreamPtr s = stream.seekStream();

  Int64 position = 0;
  ASSERT_EQ(ISeekInStream_Seek(s, &position, SZ_SEEK_END), SZ_OK);
  EXPECT_EQ(position, 12);  // the archive's length
  EXPECT_EQ(readAll(s, 10), "");

  position = 6;
  ASSERT_EQ(ISeekInStream_Seek(s, &position, SZ_SEEK_SET), SZ_OK);
  EXPECT_EQ(position, 6);
  EXPECT_EQ(readAll(s, 100), "world!");

  position = -3;
  ASSERT_EQ(ISeekInStream_Seek(s, &position, SZ_SEEK_CUR), SZ_OK);
  EXPECT_EQ(position, 9);
  EXPECT_EQ(readAll(s, 100), "ld!");

  // Past the end reads nothing.
  position = 40;
  ASSERT_EQ(ISeekInStream_Seek(s, &position, SZ_SEEK_SET), SZ_OK);
  EXPECT_EQ(readAll(s, 10), "");
}

TEST_F(BlockStreamTest, RefusesBadOriginsAndPositionsBeforeTheBlock) {
  BlockStream stream(file_.get(), 5, 17);
  Int64 position = 0;
  EXPECT_EQ(ISeekInStream_Seek(stream.seekStream(), &position, static_cast<ESzSeek>(3)),
            SZ_ERROR_FAIL);
  position = -1;
  EXPECT_EQ(ISeekInStream_Seek(stream.seekStream(), &position, SZ_SEEK_SET), SZ_ERROR_FAIL);
  position = -13;
  EXPECT_EQ(ISeekInStream_Seek(stream.seekStream(), &position, SZ_SEEK_END), SZ_ERROR_FAIL);
}

TEST_F(BlockStreamTest, LookAheadReaderStopsAtTheBlockEnd) {
  BlockStream stream(file_.get(), 5, 17);
  char data[13] = {};
  EXPECT_EQ(LookInStream_Read(stream.lookStream(), data, 12), SZ_OK);
  EXPECT_EQ(std::string(data), "hello world!");

  ASSERT_EQ(LookInStream_SeekTo(stream.lookStream(), 0), SZ_OK);
  EXPECT_EQ(LookInStream_Read(stream.lookStream(), data, 13), SZ_ERROR_INPUT_EOF);
}

TEST_F(BlockStreamTest, RepositionsTheSharedFileOnEachSeek) {
  BlockStream stream(file_.get(), 5, 17);
  // Another reader moved the shared file in between.
  fs::seek(file_.get(), 0, SEEK_SET);
  ASSERT_EQ(LookInStream_SeekTo(stream.lookStream(), 6), SZ_OK);
  char data[7] = {};
  EXPECT_EQ(LookInStream_Read(stream.lookStream(), data, 6), SZ_OK);
  EXPECT_EQ(std::string(data), "world!");
}

}  // namespace
}  // namespace kv
