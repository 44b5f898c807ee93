#include "extract/extract_archive.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "7zCrc.h"
#include "CpuArch.h"
#include "extract/archive.h"
#include "extract/extract_test_support.h"

namespace kv {
namespace {

using namespace extract_test;
using Calls = std::vector<std::string>;

// ---------------------------------------------------------------- coders --

struct CoderCase {
  const char* label;
  const char* switches;  // for 7zz a
  const char* method;    // what 7zz l must report
};

class ExtractCoderTest : public testing::TestWithParam<CoderCase> {};

TEST_P(ExtractCoderTest, ExtractsTheTreeByteForByte) {
  const CoderCase& c = GetParam();
  TempDir dir;
  makeSourceTree(dir / "src");
  make7z(dir / "a.7z", dir / "src", c.switches);
  EXPECT_NE(archiveMethods(dir / "a.7z").find(c.method), std::string::npos)
      << archiveMethods(dir / "a.7z");

  RecordingProgress progress;
  const Extraction run = extractFile(dir / "a.7z", dir / "out", &progress);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.output, "");
  EXPECT_TRUE(sameTree(dir / "src", dir / "out"));
  ASSERT_EQ(progress.calls.size(), 8u);  // 6 files
  EXPECT_EQ(progress.calls.front(), "start(6)");
  EXPECT_EQ(progress.calls[6], "update(6)");
  EXPECT_EQ(progress.calls.back(), "finish()");
}

const CoderCase kCoders[] = {
    {"Default", "", "LZMA2"},
    {"Copy", "-m0=Copy", "Copy"},
    {"Lzma", "-m0=LZMA", "LZMA:"},
    {"LzmaPure", "-m0=LZMA -mf=off", "LZMA:"},
    {"Lzma2Pure", "-m0=LZMA2 -mf=off", "LZMA2"},
    {"PpmdPure", "-m0=PPMd -mf=off", "PPMD"},
    {"BcjLzma", "-m0=BCJ -m1=LZMA", "BCJ"},
    {"Bcj2", "-m0=BCJ2 -m1=LZMA:d25 -m2=LZMA:d19 -m3=LZMA:d19 -mb0:1 -mb0s1:2 -mb0s2:3", "BCJ2"},
    {"Arm64", "-m0=ARM64 -m1=LZMA2", "ARM64"},
    {"Arm", "-m0=ARM -m1=LZMA2", "ARM "},
    {"Armt", "-m0=ARMT -m1=LZMA2", "ARMT"},
    {"Ppc", "-m0=PPC -m1=LZMA2", "PPC"},
    {"Sparc", "-m0=SPARC -m1=LZMA2", "SPARC"},
    {"Ia64", "-m0=IA64 -m1=LZMA2", "IA64"},
    {"Riscv", "-m0=RISCV -m1=LZMA2", "RISCV"},
    {"Delta", "-m0=Delta:4 -m1=LZMA2", "Delta:4"},
    {"Solid", "-ms=on", "LZMA2"},
    {"NonSolid", "-ms=off", "LZMA2"},
    {"TwoFilesPerBlock", "-ms=2f -m0=LZMA", "LZMA:"},
};

INSTANTIATE_TEST_SUITE_P(Coders, ExtractCoderTest, testing::ValuesIn(kCoders),
                         [](const testing::TestParamInfo<CoderCase>& info) {
                           return std::string(info.param.label);
                         });

// ---------------------------------------------------------------- blocks --

TEST(ExtractArchiveTest, BlockInsideALargerFileStopsBeforeThePadding) {
  TempDir dir;
  makeSourceTree(dir / "src");
  make7z(dir / "a.7z", dir / "src", "");
  const std::string archive = readFile(dir / "a.7z");
  const std::string before(1001, '\xAB');
  std::string block = archive + std::string((8 - archive.size() % 8) % 8 + 64, '\0');
  writeFile(dir / "bundle", before + block + "\x10\x00\x00\x00kvii" + "trailing bytes");

  const Extraction run = extractFile(dir / "bundle", dir / "out", nullptr, 1001,
                                     static_cast<uint32_t>(1001 + block.size()));
  EXPECT_EQ(run.result, 0);
  EXPECT_TRUE(sameTree(dir / "src", dir / "out"));
}

TEST(ExtractArchiveTest, BlockBeyondTwoGigabytesOfFile) {
  TempDir dir;
  writeFile(dir / "src/f.txt", "far away\n");
  make7z(dir / "a.7z", dir / "src", "");
  const std::string archive = readFile(dir / "a.7z");
  const uint32_t start = 0xC0000000u;  // sparse file, offsets above 2^31
  {
    FilePtr out = openFile(dir / "bundle", "wb");
    ASSERT_TRUE(out);
    ASSERT_EQ(fs::seek(out.get(), start, SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(archive.data(), 1, archive.size(), out.get()), archive.size());
  }
  const Extraction run = extractFile(dir / "bundle", dir / "out", nullptr, start,
                                     static_cast<uint32_t>(start + archive.size()));
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(readFile(dir / "out/f.txt"), "far away\n");
}

TEST(ExtractArchiveTest, NotA7zBlockCreatesNothingAndReportsNoProgress) {
  TempDir dir;
  writeFile(dir / "junk", randomBytes(5000, 3));
  RecordingProgress progress;
  const Extraction run = extractFile(dir / "junk", dir / "out/target", &progress);
  EXPECT_EQ(run.result, SZ_ERROR_NO_ARCHIVE);
  EXPECT_EQ(run.output, "");
  EXPECT_TRUE(progress.calls.empty());
  EXPECT_FALSE(stdfs::exists(dir / "out"));
}

TEST(ExtractArchiveTest, CutShortArchiveFailsWithoutOutput) {
  TempDir dir;
  makeSourceTree(dir / "src");
  make7z(dir / "a.7z", dir / "src", "");
  const uint32_t size = static_cast<uint32_t>(stdfs::file_size(dir / "a.7z"));
  RecordingProgress progress;
  const Extraction run = extractFile(dir / "a.7z", dir / "out", &progress, 0, size - 40);
  EXPECT_NE(run.result, 0);
  EXPECT_TRUE(progress.calls.empty());
  EXPECT_FALSE(stdfs::exists(dir / "out"));
}

TEST(ExtractArchiveTest, DamagedPackedDataIsACrcErrorAndStillFinishes) {
  TempDir dir;
  writeFile(dir / "src/data.txt", std::string(4096, 'A'));
  make7z(dir / "a.7z", dir / "src", "-m0=Copy");
  std::string archive = readFile(dir / "a.7z");
  const size_t packed = archive.find(std::string(4096, 'A'));
  ASSERT_NE(packed, std::string::npos);
  archive[packed + 100] = 'B';
  archive[packed + 2000] = 'C';
  writeFile(dir / "a.7z", archive);

  RecordingProgress progress;
  const Extraction run = extractFile(dir / "a.7z", dir / "out", &progress);
  EXPECT_EQ(run.result, SZ_ERROR_CRC);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(progress.calls, (Calls{"start(1)", "finish()"}));
  EXPECT_FALSE(stdfs::exists(dir / "out/data.txt"));
}

TEST(ExtractArchiveTest, DamagedCompressedDataFailsCleanly) {
  TempDir dir;
  makeSourceTree(dir / "src");
  make7z(dir / "a.7z", dir / "src", "-m0=LZMA2");
  std::string archive = readFile(dir / "a.7z");
  for (size_t i = 200; i < 260; ++i) archive[i] = static_cast<char>(archive[i] ^ 0x5A);
  writeFile(dir / "a.7z", archive);

  RecordingProgress progress;
  const Extraction run = extractFile(dir / "a.7z", dir / "out", &progress);
  EXPECT_NE(run.result, 0);
  EXPECT_NE(run.result, 11);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(progress.calls.back(), "finish()");
}

// ------------------------------------------------------------ the tree --

TEST(ExtractArchiveTest, DirectoriesOnlyCreateJustTheTarget) {
  TempDir dir;
  stdfs::create_directories(dir / "src/d1/d2");
  stdfs::create_directories(dir / "src/d3");
  make7z(dir / "a.7z", dir / "src", "");
  RecordingProgress progress;
  const Extraction run = extractFile(dir / "a.7z", dir / "new/deeper/target", &progress);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(progress.calls, (Calls{"start(0)", "finish()"}));
  EXPECT_TRUE(stdfs::is_directory(dir / "new/deeper/target"));
  EXPECT_TRUE(stdfs::is_empty(dir / "new/deeper/target"));
}

TEST(ExtractArchiveTest, EmptyDirectoryEntryIsNotCreatedButParentsOfFilesAre) {
  TempDir dir;
  stdfs::create_directories(dir / "src/a/empty");
  writeFile(dir / "src/b/c", "c\n");
  make7z(dir / "a.7z", dir / "src", "");
  RecordingProgress progress;
  const Extraction run = extractFile(dir / "a.7z", dir / "out", &progress);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(readFile(dir / "out/b/c"), "c\n");
  EXPECT_FALSE(stdfs::exists(dir / "out/a"));
  EXPECT_EQ(progress.calls, (Calls{"start(1)", "update(1)", "finish()"}));
}

TEST(ExtractArchiveTest, CreatesParentsNotListedInTheArchive) {
  TempDir dir;
  writeFile(dir / "z.txt", "zzz");
  makeNamed7z(dir / "a.7z", dir / "z.txt", {"x/y/z.txt", "x/w.txt"});
  const Extraction run = extractFile(dir / "a.7z", dir / "out", nullptr);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(readFile(dir / "out/x/y/z.txt"), "zzz");
  EXPECT_EQ(readFile(dir / "out/x/w.txt"), "zzz");
}

TEST(ExtractArchiveTest, ReplacesExistingFilesKeepingTheirPermissions) {
  TempDir dir;
  ScopedUmask mask(022);
  writeFile(dir / "src/tool.sh", "#!/bin/sh\n");
  ASSERT_EQ(::chmod((dir / "src/tool.sh").c_str(), 0755), 0);
  make7z(dir / "a.7z", dir / "src", "");
  writeFile(dir / "out/tool.sh", "old and longer content\n");
  ASSERT_EQ(::chmod((dir / "out/tool.sh").c_str(), 0600), 0);

  const Extraction run = extractFile(dir / "a.7z", dir / "out", nullptr);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(readFile(dir / "out/tool.sh"), "#!/bin/sh\n");
  EXPECT_EQ(permissionsOf(dir / "out/tool.sh"), 0600u);
}

TEST(ExtractArchiveTest, PermissionsComeFromTheEntryAttributes) {
  TempDir dir;
  ScopedUmask mask(022);
  const std::vector<std::pair<std::string, mode_t>> files = {
      {"run.sh", 0755}, {"secret", 0600}, {"plain.txt", 0644}, {"shared", 0777}};
  for (const auto& [name, mode] : files) {
    writeFile(dir / ("src/" + name), name);
    ASSERT_EQ(::chmod((dir / ("src/" + name)).c_str(), mode), 0);
  }
  make7z(dir / "a.7z", dir / "src", "");
  const Extraction run = extractFile(dir / "a.7z", dir / "out", nullptr);
  ASSERT_EQ(run.result, 0);
  for (const auto& [name, mode] : files) {
    EXPECT_EQ(permissionsOf(dir / ("out/" + name)), mode & ~022u) << name;
  }
}

// Rewrites the attributes of the archive's only entry to `attributes`. The
// archive must have been made with an uncompressed header (-mhc=off).
void setOnlyEntryAttributes(const std::string& path, uint32_t attributes) {
  std::string archive = readFile(path);
  uint32_t old = 0;
  {
    FilePtr file = openFile(path, "rb");
    BlockStream stream(file.get(), 0, static_cast<uint32_t>(archive.size()));
    Archive parsed;
    ASSERT_EQ(parsed.open(stream.lookStream()), 0);
    ASSERT_TRUE(parsed.entry(0).hasAttributes);
    old = parsed.entry(0).attributes;
  }
  const auto le32 = [](uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
  };
  // Header fields are little-endian and not aligned.
  const auto le64At = [&archive](size_t at) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(archive[at + i]);
    return value;
  };
  const size_t header = 32 + static_cast<size_t>(le64At(12));
  const size_t at = archive.find(le32(old), header);
  ASSERT_NE(at, std::string::npos);
  archive.replace(at, 4, le32(attributes));
  const uint32_t headerCrc = CrcCalc(archive.data() + header, static_cast<size_t>(le64At(20)));
  archive.replace(28, 4, le32(headerCrc));
  archive.replace(8, 4, le32(CrcCalc(archive.data() + 12, 20)));
  writeFile(path, archive);
}

TEST(ExtractArchiveTest, EntriesWithoutUnixModeGetFullPermissionsBeforeTheUmask) {
  TempDir dir;
  ScopedUmask mask(027);
  writeFile(dir / "src/f", "f");
  ASSERT_EQ(::chmod((dir / "src/f").c_str(), 0600), 0);
  make7z(dir / "a.7z", dir / "src", "-mhc=off");
  setOnlyEntryAttributes(dir / "a.7z", 0x20);  // "archive" only, bit 0x8000 clear
  // The same mode bits without the flag that says they are there.
  make7z(dir / "b.7z", dir / "src", "-mhc=off");
  setOnlyEntryAttributes(dir / "b.7z", 0x01800020);

  Extraction run = extractFile(dir / "a.7z", dir / "out", nullptr);
  ASSERT_EQ(run.result, 0);
  EXPECT_EQ(permissionsOf(dir / "out/f"), 0750u);
  run = extractFile(dir / "b.7z", dir / "out2", nullptr);
  ASSERT_EQ(run.result, 0);
  EXPECT_EQ(permissionsOf(dir / "out2/f"), 0750u);
}

// -------------------------------------------------------- output files --

TEST(ExtractArchiveTest, OutputFileThatCannotBeOpenedStopsTheExtraction) {
  TempDir dir;
  writeFile(dir / "f", "data");
  makeNamed7z(dir / "a.7z", dir / "f", {"first.txt", "second.txt"});
  // Refused even to root: a directory where the file should go.
  stdfs::create_directories(dir / "out/first.txt");

  RecordingProgress progress;
  const Extraction run = extractFile(dir / "a.7z", dir / "out", &progress);
  EXPECT_EQ(run.result, 11);
  EXPECT_EQ(run.output, "Could not open output file '" + (dir / "out/first.txt") + "' error 21\n");
  EXPECT_FALSE(stdfs::exists(dir / "out/second.txt"));
  EXPECT_EQ(progress.calls, (Calls{"start(2)", "finish()"}));
}

TEST(ExtractArchiveTest, ReadOnlyOutputFileIsReplaced) {
  // The directory's permission decides, as for tar: a re-run after an
  // interrupted extraction must get past the runtime's read-only files.
  TempDir dir;
  writeFile(dir / "f", "data");
  makeNamed7z(dir / "a.7z", dir / "f", {"ro.txt"});
  writeFile(dir / "out/ro.txt", "old");
  ASSERT_EQ(::chmod((dir / "out/ro.txt").c_str(), 0444), 0);
  const Extraction run = extractFile(dir / "a.7z", dir / "out", nullptr);
  EXPECT_EQ(run.result, 0) << run.output;
  EXPECT_EQ(readFile(dir / "out/ro.txt"), "data");
  EXPECT_EQ(permissionsOf(dir / "out/ro.txt"), 0444u);
}

TEST(ExtractArchiveTest, LongPathsWorkUpToWhatTheSystemAllows) {
  TempDir dir;
  writeFile(dir / "f", "deep");
  const std::string part(200, 'p');
  std::string longName;  // about 1400 bytes
  for (int i = 0; i < 7; ++i) longName += part + std::to_string(i) + "/";
  longName += "file.txt";
  std::string tooLong;  // beyond PATH_MAX
  for (int i = 0; i < 25; ++i) tooLong += part + std::to_string(i) + "/";
  tooLong += "file.txt";

  makeNamed7z(dir / "long.7z", dir / "f", {longName});
  Extraction run = extractFile(dir / "long.7z", dir / "out", nullptr);
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(readFile(dir / ("out/" + longName)), "deep");

  makeNamed7z(dir / "toolong.7z", dir / "f", {tooLong});
  run = extractFile(dir / "toolong.7z", dir / "out2", nullptr);
  EXPECT_EQ(run.result, 11);
  EXPECT_EQ(run.output.rfind("Could not open output file '" + (dir / "out2/"), 0), 0u)
      << run.output;
}

}  // namespace
}  // namespace kv
