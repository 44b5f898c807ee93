#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "base/fs.h"
#include "base/little_endian.h"
#include "core/bundle.h"

namespace kv {
namespace {

using Bytes = std::string;

void appendU32(Bytes& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void appendFooter(Bytes& out, uint32_t start, char tag) {
  appendU32(out, start);
  out += "kvi";
  out.push_back(tag);
}

// Appends one block (data, zero padding to `align`, footer) and returns its start.
uint32_t appendBlock(Bytes& out, char tag, const Bytes& data, size_t align = 1) {
  const uint32_t start = static_cast<uint32_t>(out.size());
  out += data;
  while (out.size() % align != 0) out.push_back('\0');
  appendFooter(out, start, tag);
  return start;
}

FilePtr fileWith(const Bytes& bytes) {
  FilePtr file(std::tmpfile());
  if (file && !bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file.get());
  return file;
}

struct Visit {
  char tag;
  uint32_t start;
  uint32_t end;
  Bytes data;
};

// Records every visit and reads the block's data, moving the file position
// as real handlers do. Stops after `limit` visits.
class Recorder : public TagHandler {
 public:
  explicit Recorder(size_t limit = SIZE_MAX) : limit_(limit) {}

  bool visit(std::FILE* file, const BlockDescriptor& block) override {
    Visit v{block.tag(), block.start, block.end, Bytes()};
    if (block.start <= block.end) {
      v.data.resize(block.length());
      fs::seek(file, block.start, SEEK_SET);
      if (!v.data.empty()) v.data.resize(std::fread(&v.data[0], 1, v.data.size(), file));
    }
    visits.push_back(v);
    return visits.size() < limit_;
  }

  std::vector<Visit> visits;

 private:
  size_t limit_;
};

Bytes image() {
  return Bytes(
      "\x7f"
      "ELF-image-bytes!",
      16);
}

TEST(BundleWalkerTest, FileWithoutBundleIsNotVisited) {
  for (const Bytes& bytes :
       {Bytes(), Bytes("short"), Bytes("1234567"), image(), Bytes(4096, '\0')}) {
    FilePtr file = fileWith(bytes);
    Recorder recorder;
    EXPECT_FALSE(walkBundleFrom(file.get(), recorder, -8)) << bytes.size();
    EXPECT_TRUE(recorder.visits.empty());
  }
}

TEST(BundleWalkerTest, SingleBlockAfterImage) {
  Bytes bytes = image();
  appendBlock(bytes, 'r', Bytes("REL_1\0\0\0", 8));
  FilePtr file = fileWith(bytes);
  Recorder recorder;
  EXPECT_TRUE(walkBundleFrom(file.get(), recorder, -8));
  ASSERT_EQ(recorder.visits.size(), 1u);
  EXPECT_EQ(recorder.visits[0].tag, 'r');
  EXPECT_EQ(recorder.visits[0].start, 16u);
  EXPECT_EQ(recorder.visits[0].end, 24u);
  EXPECT_EQ(recorder.visits[0].data, Bytes("REL_1\0\0\0", 8));
}

TEST(BundleWalkerTest, VisitsFromLastToFirstThroughUnknownAndEmptyBlocks) {
  Bytes bytes = image();
  appendBlock(bytes, 'v', "version=1.2.3.4\n", 8);
  appendBlock(bytes, 'x', "unknown kind", 8);
  appendBlock(bytes, 'a', "");
  appendBlock(bytes, 'r', "REL", 8);
  FilePtr file = fileWith(bytes);
  Recorder recorder;
  ASSERT_TRUE(walkBundleFrom(file.get(), recorder, -8));
  ASSERT_EQ(recorder.visits.size(), 4u);
  EXPECT_EQ(recorder.visits[0].tag, 'r');
  EXPECT_EQ(recorder.visits[0].data, Bytes("REL\0\0\0\0\0", 8));
  EXPECT_EQ(recorder.visits[1].tag, 'a');
  EXPECT_EQ(recorder.visits[1].start, recorder.visits[1].end);
  EXPECT_EQ(recorder.visits[2].tag, 'x');
  EXPECT_EQ(recorder.visits[2].data, Bytes("unknown kind\0\0\0\0", 16));
  EXPECT_EQ(recorder.visits[3].tag, 'v');
  EXPECT_EQ(recorder.visits[3].start, 16u);
  EXPECT_EQ(recorder.visits[3].end % 8, 0u);
  // Walks repeat on the same open file.
  Recorder again;
  EXPECT_TRUE(walkBundleFrom(file.get(), again, -8));
  EXPECT_EQ(again.visits.size(), 4u);
}

TEST(BundleWalkerTest, HandlerStoppingEndsTheWalkWithTrue) {
  Bytes bytes = image();
  appendBlock(bytes, 'v', "v");
  appendBlock(bytes, 'r', "r");
  FilePtr file = fileWith(bytes);
  Recorder recorder(1);
  EXPECT_TRUE(walkBundleFrom(file.get(), recorder, -8));
  ASSERT_EQ(recorder.visits.size(), 1u);
  EXPECT_EQ(recorder.visits[0].tag, 'r');
}

TEST(BundleWalkerTest, BundleBeforeATrailingTable) {
  Bytes bytes = image();
  appendBlock(bytes, 'v', "version=1\n", 8);
  appendBlock(bytes, 'r', "R", 8);
  const Bytes table(100, 'C');
  FilePtr unsignedFile = fileWith(bytes);
  FilePtr signedFile = fileWith(bytes + table);
  Recorder plain, before;
  EXPECT_TRUE(walkBundleFrom(unsignedFile.get(), plain, -8));
  EXPECT_TRUE(walkBundleFrom(signedFile.get(), before, -8 - 100));
  EXPECT_EQ(plain.visits.size(), 2u);
  EXPECT_EQ(before.visits.size(), 2u);
  Recorder atEnd;
  EXPECT_FALSE(walkBundleFrom(signedFile.get(), atEnd, -8));
  // A table size larger than the file means no bundle, not a read before 0.
  Recorder huge;
  EXPECT_FALSE(walkBundleFrom(signedFile.get(), huge, -8 - 0x7FFFFFFFll));
  EXPECT_TRUE(huge.visits.empty());
}

TEST(BundleWalkerTest, MalformedLastFooterMeansNoBundle) {
  // start after the footer itself
  Bytes after = image();
  appendFooter(after, 25, 'r');
  // start exactly at the footer: a valid empty block
  Bytes atFooter = image();
  appendFooter(atFooter, 16, 'r');
  // start far past the end of the file
  Bytes far = image();
  appendFooter(far, 0xFFFFFFFFu, 'i');
  // magic damaged
  Bytes damaged = image();
  appendBlock(damaged, 'r', "REL");
  damaged[damaged.size() - 3] = 'X';

  for (const Bytes* bytes : {&after, &far, &damaged}) {
    FilePtr file = fileWith(*bytes);
    Recorder recorder;
    EXPECT_FALSE(walkBundleFrom(file.get(), recorder, -8));
    EXPECT_TRUE(recorder.visits.empty());
  }
  FilePtr file = fileWith(atFooter);
  Recorder recorder;
  EXPECT_TRUE(walkBundleFrom(file.get(), recorder, -8));
  ASSERT_EQ(recorder.visits.size(), 1u);
  EXPECT_EQ(recorder.visits[0].start, recorder.visits[0].end);
}

TEST(BundleWalkerTest, MalformedEarlierFooterEndsTheChain) {
  struct Case {
    const char* name;
    uint32_t start;  // start stored in the earlier footer at offset 16
  };
  // The earlier footer sits at offset 16; the last block starts at 24.
  for (const Case& c :
       {Case{"start after its footer", 20}, Case{"start back at the later block (a loop)", 24},
        Case{"start above the later block", 40}}) {
    Bytes bytes = image();
    appendFooter(bytes, c.start, 'v');
    appendBlock(bytes, 'r', "REL_TEXT");
    FilePtr file = fileWith(bytes);
    Recorder recorder;
    EXPECT_TRUE(walkBundleFrom(file.get(), recorder, -8)) << c.name;
    ASSERT_EQ(recorder.visits.size(), 1u) << c.name;
    EXPECT_EQ(recorder.visits[0].tag, 'r');
  }
}

TEST(BundleWalkerTest, FooterBytesRoundTrip) {
  for (uint32_t start : {0u, 0x12345678u, 0x80000001u, 0xFFFFFFFFu}) {
    unsigned char footer[kFooterSize];
    writeFooter(start, 'r', footer);
    Bytes expected;
    appendFooter(expected, start, 'r');
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(footer), kFooterSize), expected) << start;
    EXPECT_EQ(readLe32(footer), start);
  }
}

TEST(BundleWalkerTest, BlockStartingInTheFirstEightBytesHasNoFooterBeforeIt) {
  for (uint32_t start : {0u, 3u, 7u}) {
    Bytes bytes(start, 'x');
    appendBlock(bytes, 'r', "release!");
    FilePtr file = fileWith(bytes);
    Recorder recorder;
    EXPECT_TRUE(walkBundleFrom(file.get(), recorder, -8));
    ASSERT_EQ(recorder.visits.size(), 1u);
    EXPECT_EQ(recorder.visits[0].start, start);
  }
}

TEST(BundleWalkerTest, UnreadableFooterMeansNoBundle) {
  Bytes bytes = image();
  appendBlock(bytes, 'r', "release!");
  char path[] = "/tmp/kv_walker_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  FilePtr writeOnly(fdopen(fd, "wb"));
  ASSERT_TRUE(writeOnly);
  std::fwrite(bytes.data(), 1, bytes.size(), writeOnly.get());
  std::fflush(writeOnly.get());
  Recorder recorder;
  EXPECT_FALSE(walkBundleFrom(writeOnly.get(), recorder, -8));
  EXPECT_TRUE(recorder.visits.empty());
  std::remove(path);
}

TEST(BundleWalkerTest, EveryFileEndsTheWalkWithSoundDescriptors) {
  std::mt19937 random(20240601);
  class Checker : public TagHandler {
   public:
    explicit Checker(int64_t size) : size_(size) {}
    bool visit(std::FILE* file, const BlockDescriptor& block) override {
      EXPECT_LE(block.start, block.end);
      EXPECT_LE(static_cast<int64_t>(block.end) + 8, size_);
      EXPECT_EQ(std::memcmp(block.magic, "kvi", 3), 0);
      if (visits_ > 0) {
        EXPECT_LT(block.start, previousStart_);
      }
      previousStart_ = block.start;
      ++visits;
      ++visits_;
      // Move the file position as a handler does.
      fs::seek(file, block.start, SEEK_SET);
      char c;
      if (block.length() > 0) {
        EXPECT_EQ(std::fread(&c, 1, 1, file), 1u);
      }
      return visits_ <= static_cast<size_t>(size_ / 8) + 1;  // a loop would trip this
    }
    size_t visits = 0;

   private:
    int64_t size_;
    size_t visits_ = 0;
    uint32_t previousStart_ = 0;
  };

  size_t longWalks = 0;
  for (int i = 0; i < 20000; ++i) {
    // A sound chain after a random image, then damage: footers planted at
    // random places with random starts, and random bytes overwritten.
    Bytes bytes(random() % 40, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    const int blocks = static_cast<int>(random() % 6);
    for (int b = 0; b < blocks; ++b)
      appendBlock(bytes, static_cast<char>('a' + random() % 26), Bytes(random() % 20, 'd'),
                  random() % 2 ? 8 : 1);
    const size_t size = bytes.size();
    const int damage = size >= 8 ? static_cast<int>(random() % 4) : 0;
    for (int d = 0; d < damage; ++d) {
      const size_t at = random() % (size - 7);
      if (random() % 2) {
        bytes[at] = static_cast<char>(random());
        continue;
      }
      uint32_t start;
      switch (random() % 4) {
        case 0:
          start = static_cast<uint32_t>(random());
          break;
        case 1:
          start = static_cast<uint32_t>(random() % (size + 16));
          break;
        case 2:
          start = static_cast<uint32_t>(at + 8);
          break;
        default:
          start = static_cast<uint32_t>(random() % (at + 1));
          break;
      }
      Bytes footer;
      appendFooter(footer, start, static_cast<char>(random()));
      bytes.replace(at, 8, footer);
    }
    const int64_t table = (random() % 5 == 0) ? static_cast<int64_t>(random() % 40) : 0;
    FilePtr file = fileWith(bytes);
    ASSERT_TRUE(file);
    Checker checker(static_cast<int64_t>(size) - table);
    walkBundleFrom(file.get(), checker, -8 - table);
    ASSERT_LE(checker.visits, size / 8) << "iteration " << i;
    if (checker.visits >= 3) ++longWalks;
  }
  EXPECT_GT(longWalks, 1000u);
}

}  // namespace
}  // namespace kv
