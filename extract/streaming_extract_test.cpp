// The streaming path: folders larger than any buffer, dictionaries that
// wrap around, several folders at once, multi-block LZMA2, and failures in
// the middle of a solid folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "7zCrc.h"
#include "extract/extract_archive.h"
#include "extract/extract_test_support.h"

namespace kv {
namespace {

using namespace extract_test;
using Calls = std::vector<std::string>;

// Text that compresses but still spans many decoder steps.
std::string textOf(size_t size, unsigned seed) {
  std::string text;
  unsigned value = seed;
  while (text.size() < size) {
    value = value * 1103515245u + 12345u;
    text += "entry " + std::to_string(value % 5000) + " of the streaming test\n";
  }
  text.resize(size);
  return text;
}

// Ten files of 700 KB each (text and random halves) in `dir`/src.
void makeLargeTree(TempDir& dir) {
  for (int i = 0; i < 10; ++i) {
    writeFile(dir / ("src/d" + std::to_string(i % 3) + "/f" + std::to_string(i)),
              textOf(350000, i) + randomBytes(350000, i));
  }
}

struct LargeCase {
  const char* label;
  const char* switches;
};

class StreamingTest : public testing::TestWithParam<LargeCase> {};

TEST_P(StreamingTest, MatchesTheSourceByteForByte) {
  TempDir dir;
  makeLargeTree(dir);
  make7z(dir / "a.7z", dir / "src", GetParam().switches);
  RecordingProgress progress;
  const Extraction run = extractFile(dir / "a.7z", dir / "out", &progress);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.output, "");
  EXPECT_TRUE(sameTree(dir / "src", dir / "out"));
  ASSERT_EQ(progress.calls.size(), 12u);
  EXPECT_EQ(progress.calls[10], "update(10)");
}

const LargeCase kLargeCases[] = {
    // The 64 KiB dictionary wraps around many times within the folder.
    {"LzmaSmallDictionary", "-m0=LZMA:d=64k -mf=off"},
    {"Lzma2SmallDictionary", "-m0=LZMA2:d=64k -mf=off"},
    // Independent LZMA2 blocks, decoded side by side (also before a filter).
    {"Lzma2Blocks", "-m0=LZMA2:d=1m:c=1m -mmt=2 -mf=off"},
    {"ManyFolders", "-ms=off"},
    {"FoldersOfTwoFiles", "-ms=2f -m0=LZMA2:d=1m"},
    {"Bcj2", "-m0=BCJ2 -m1=LZMA:d20 -m2=LZMA:d16 -m3=LZMA:d16 -mb0:1 -mb0s1:2 -mb0s2:3"},
    {"DeltaLarge", "-m0=Delta:2 -m1=LZMA2:d=1m"},
    {"ArmtBlocks", "-m0=ARMT -m1=LZMA2:d=1m:c=1m"},
    {"Ppmd", "-m0=PPMd:mem=4m"},
};

INSTANTIATE_TEST_SUITE_P(Large, StreamingTest, testing::ValuesIn(kLargeCases),
                         [](const testing::TestParamInfo<LargeCase>& info) {
                           return std::string(info.param.label);
                         });

// Changes the stored CRC of entry `name` (headers must be stored plain).
void breakEntryCrc(const std::string& archive, const std::string& name) {
  runShell("7zz l -slt " + shellQuote(archive) + " > " + shellQuote(archive + ".slt"),
           archive + ".log");
  const std::string listing = readFile(archive + ".slt");
  const size_t at = listing.find("Path = " + name + "\n");
  ASSERT_NE(at, std::string::npos);
  const size_t crcAt = listing.find("CRC = ", at);
  ASSERT_NE(crcAt, std::string::npos);
  const unsigned long crc = std::stoul(listing.substr(crcAt + 6, 8), nullptr, 16);
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((crc >> (8 * i)) & 0xFF);
  std::string data = readFile(archive);
  const size_t place = data.rfind(bytes);
  ASSERT_NE(place, std::string::npos);
  data[place] = static_cast<char>(data[place] ^ 0x01);
  // Seal the header again: its CRC in the start header, then the start
  // header's own CRC.
  CrcGenerateTable();
  auto get64 = [&](size_t at) {
    UInt64 value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<Byte>(data[at + i]);
    return value;
  };
  auto put32 = [&](size_t at, UInt32 value) {
    for (int i = 0; i < 4; ++i) data[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  const size_t headerAt = 32 + static_cast<size_t>(get64(12));
  const size_t headerSize = static_cast<size_t>(get64(20));
  put32(28, CrcCalc(data.data() + headerAt, headerSize));
  put32(8, CrcCalc(data.data() + 12, 20));
  writeFile(archive, data);
}

TEST(StreamingFailureTest, CrcErrorInTheMiddleOfASolidFolder) {
  TempDir dir;
  for (int i = 0; i < 5; ++i) writeFile(dir / ("src/f" + std::to_string(i)), textOf(900000, i));
  make7z(dir / "a.7z", dir / "src", "-m0=LZMA2 -ms=on -mhc=off");
  breakEntryCrc(dir / "a.7z", "f2");

  RecordingProgress progress;
  const Extraction run = extractFile(dir / "a.7z", dir / "out", &progress);
  EXPECT_EQ(run.result, 3);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(readFile(dir / "out/f0"), textOf(900000, 0));
  EXPECT_EQ(readFile(dir / "out/f1"), textOf(900000, 1));
  // The damaged file does not stay looking complete; later ones are not
  // attempted.
  EXPECT_FALSE(stdfs::exists(dir / "out/f2"));
  EXPECT_FALSE(stdfs::exists(dir / "out/f3"));
  EXPECT_FALSE(stdfs::exists(dir / "out/f4"));
  EXPECT_EQ(progress.calls, (Calls{"start(5)", "update(1)", "update(2)", "finish()"}));
}

TEST(StreamingFailureTest, OutputFailureMidStreamStopsEveryWorker) {
  // Far more data than the hand-over buffers hold, in one solid folder and
  // in many folders: the decoders must not hang when the writer gives up.
  for (const char* switches :
       {"-m0=LZMA2 -ms=on", "-ms=off -m0=LZMA2:d=1m", "-m0=LZMA2:d=1m:c=1m -ms=on"}) {
    SCOPED_TRACE(switches);
    TempDir dir;
    for (int i = 0; i < 8; ++i) {
      writeFile(dir / ("src/f" + std::to_string(i)), randomBytes(1500000, i));
    }
    make7z(dir / "a.7z", dir / "src", switches);
    stdfs::create_directories(dir / "out/f3");  // cannot be opened as a file

    RecordingProgress progress;
    const Extraction run = extractFile(dir / "a.7z", dir / "out", &progress);
    EXPECT_EQ(run.result, 11);
    EXPECT_EQ(run.output, "Could not open output file '" + (dir / "out/f3") + "' error 21\n");
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(readFile(dir / ("out/f" + std::to_string(i))), randomBytes(1500000, i));
    }
    EXPECT_EQ(progress.calls.back(), "finish()");
    EXPECT_EQ(progress.calls[3], "update(3)");
    EXPECT_EQ(progress.calls.size(), 5u);
  }
}

TEST(StreamingFailureTest, DamagedBlockEndsItsFolderAfterTheBytesBeforeIt) {
  // One folder of independent LZMA2 blocks decoded side by side, beside
  // folders of small files: the block in the middle is damaged.
  TempDir dir;
  for (int i = 0; i < 8; ++i) writeFile(dir / ("src/a" + std::to_string(i)), textOf(1500000, i));
  for (int i = 0; i < 20; ++i) writeFile(dir / ("src/b" + std::to_string(i)), textOf(30000, i));
  make7z(dir / "a.7z", dir / "src", "-m0=LZMA2:d=1m:c=1m -ms=12m -mhc=off");
  std::string data = readFile(dir / "a.7z");
  const size_t middle = 32 + (data.size() - 32) / 4;
  data[middle] = static_cast<char>(data[middle] ^ 0x55);
  writeFile(dir / "a.7z", data);

  const Extraction run = extractFile(dir / "a.7z", dir / "out", nullptr);
  EXPECT_TRUE(run.result == 1 || run.result == 3) << run.result;
  EXPECT_EQ(readFile(dir / "out/a0"), textOf(1500000, 0));
  EXPECT_FALSE(stdfs::exists(dir / "out/a7"));
  EXPECT_FALSE(stdfs::exists(dir / "out/b19"));
}

TEST(StreamingFailureTest, TruncatedPackedDataFailsTheFileBeingWritten) {
  TempDir dir;
  for (int i = 0; i < 4; ++i)
    writeFile(dir / ("src/f" + std::to_string(i)), randomBytes(600000, i));
  make7z(dir / "a.7z", dir / "src", "-m0=Copy -mhc=off");
  // Damage the third file's bytes in the stored (copy) folder.
  std::string data = readFile(dir / "a.7z");
  const std::string third = randomBytes(600000, 2);
  const size_t at = data.find(third.substr(0, 64));
  ASSERT_NE(at, std::string::npos);
  data[at + 300000] = static_cast<char>(data[at + 300000] ^ 0x40);
  writeFile(dir / "a.7z", data);

  const Extraction run = extractFile(dir / "a.7z", dir / "out", nullptr);
  EXPECT_EQ(run.result, 3);
  EXPECT_EQ(readFile(dir / "out/f1"), randomBytes(600000, 1));
  EXPECT_FALSE(stdfs::exists(dir / "out/f2"));
}

TEST(StreamingFailureTest, NoFileAfterAFailedOneIsPutInPlace) {
  // One folder per file, decoded side by side: later files may be complete
  // before the first one fails its check, and must still not appear; a file
  // that was there before stays as it was. f4, the largest, is decoded
  // first and must be stopped.
  TempDir dir;
  for (int i = 0; i < 6; ++i) {
    writeFile(dir / ("src/f" + std::to_string(i)), textOf(i == 4 ? 4000000 : 700000, i));
  }
  make7z(dir / "a.7z", dir / "src", "-ms=off -m0=LZMA2:d=1m -mhc=off");
  breakEntryCrc(dir / "a.7z", "f0");
  writeFile(dir / "out/f5", "installed before");

  const Extraction run = extractFile(dir / "a.7z", dir / "out", nullptr);
  EXPECT_EQ(run.result, 3);
  for (int i = 0; i < 5; ++i) EXPECT_FALSE(stdfs::exists(dir / ("out/f" + std::to_string(i)))) << i;
  EXPECT_EQ(readFile(dir / "out/f5"), "installed before");
  for (const auto& item : stdfs::directory_iterator(dir / "out")) {
    EXPECT_EQ(item.path().filename().string().find(".kvpart"), std::string::npos) << item.path();
  }
}

}  // namespace
}  // namespace kv
