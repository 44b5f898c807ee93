#include "extract/entry_decoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "extract/archive.h"
#include "extract/block_stream.h"
#include "extract/extract_test_support.h"

namespace kv {
namespace {

using namespace extract_test;

// Heap allocation that refuses anything above `limit` bytes and counts the
// allocations of at least `watch` bytes.
struct LimitedAllocator {
  ISzAlloc vt;
  size_t limit;
  size_t watch;
  int watched = 0;

  static void* alloc(ISzAllocPtr p, size_t size) {
    auto* self = const_cast<LimitedAllocator*>(reinterpret_cast<const LimitedAllocator*>(p));
    if (size == 0 || size > self->limit) return nullptr;
    if (size >= self->watch) ++self->watched;
    return std::malloc(size);
  }
  static void release(ISzAllocPtr, void* address) { std::free(address); }

  LimitedAllocator(size_t limit, size_t watch) : vt{alloc, release}, limit(limit), watch(watch) {}
};

class EntryDecoderTest : public testing::Test {
 protected:
  // Three files of 400000 bytes in one LZMA2 solid block.
  void SetUp() override {
    for (int i = 0; i < 3; ++i) {
      const std::string content(400000, static_cast<char>('a' + i));
      writeFile(dir_ / ("src/f" + std::to_string(i)), content);
    }
    make7z(dir_ / "a.7z", dir_ / "src", "-m0=LZMA2 -ms=on");
    file_ = openFile(dir_ / "a.7z", "rb");
    ASSERT_TRUE(file_);
    const auto size = static_cast<uint32_t>(stdfs::file_size(dir_ / "a.7z"));
    stream_ = std::make_unique<BlockStream>(file_.get(), 0, size);
    ASSERT_EQ(archive_.open(stream_->lookStream()), 0);
    ASSERT_EQ(archive_.entryCount(), 3u);
  }

  TempDir dir_;
  FilePtr file_;
  std::unique_ptr<BlockStream> stream_;
  Archive archive_;
};

TEST_F(EntryDecoderTest, CutsAllEntriesOfASolidBlockFromOneUnpacking) {
  LimitedAllocator allocator(SIZE_MAX, 1200000);
  EntryDecoder decoder(archive_, &allocator.vt);
  for (uint32_t i = 0; i < 3; ++i) {
    const uint8_t* data = nullptr;
    size_t size = 0;
    ASSERT_EQ(decoder.decode(i, &data, &size), 0);
    const ArchiveEntry entry = archive_.entry(i);
    ASSERT_EQ(size, 400000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size),
              std::string(400000, entry.name.back() - '0' + 'a'));
  }
  EXPECT_EQ(allocator.watched, 1);
}

TEST_F(EntryDecoderTest, BlockTooLargeForMemoryIsOutOfMemory) {
  LimitedAllocator allocator(1000000, SIZE_MAX);
  EntryDecoder decoder(archive_, &allocator.vt);
  const uint8_t* data = nullptr;
  size_t size = 0;
  EXPECT_EQ(decoder.decode(0, &data, &size), SZ_ERROR_MEM);
  EXPECT_EQ(data, nullptr);
  // Still out of memory next time, not a stale buffer.
  EXPECT_EQ(decoder.decode(1, &data, &size), SZ_ERROR_MEM);
}

TEST_F(EntryDecoderTest, EntryNamesComeAsUtf8) {
  const UInt16 text[] = {'a', 0x00FC, '/', 0x20AC, 0xD83D, 0xDE00, 0xD800, 'z'};
  EXPECT_EQ(utf16ToUtf8(text, 8),
            "a\xC3\xBC/\xE2\x82\xAC\xF0\x9F\x98\x80\xEF\xBF\xBDz");
}

}  // namespace
}  // namespace kv
