#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/fs.h"
#include "core/bundle.h"
#include "core/pe_certificate.h"

namespace kv {
namespace {

constexpr uint32_t kPeOffset = 0x80;
constexpr size_t kOptionalHeader = kPeOffset + 24;

void putU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A minimal PE image: "MZ", the PE offset, a signature and an optional
// header with `directories` data-directory entries; entry 4 names a
// certificate table of `tableSize` bytes.
std::vector<uint8_t> peImage(uint32_t directories, uint32_t tableSize) {
  std::vector<uint8_t> bytes(kOptionalHeader + 96 + 8 * 16 + 64, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  putU32(bytes, 0x3C, kPeOffset);
  bytes[kPeOffset] = 'P';
  bytes[kPeOffset + 1] = 'E';
  putU32(bytes, kOptionalHeader + 92, directories);
  putU32(bytes, kOptionalHeader + 96 + 8 * 4, 0x12345);  // file offset: not looked at
  putU32(bytes, kOptionalHeader + 96 + 8 * 4 + 4, tableSize);
  return bytes;
}

uint32_t sizeOf(const std::vector<uint8_t>& bytes) {
  return certificateTableSize(bytes.data(), bytes.size());
}

TEST(PeCertificateTest, SignedAndUnsignedImages) {
  EXPECT_EQ(sizeOf(peImage(16, 6456)), 6456u);
  EXPECT_EQ(sizeOf(peImage(5, 6456)), 6456u);
  EXPECT_EQ(sizeOf(peImage(16, 0)), 0u);
  EXPECT_EQ(bundleEndOffsetFor(6456), -6464);
  EXPECT_EQ(bundleEndOffsetFor(0), -8);
}

TEST(PeCertificateTest, NoCertificateTableWithoutItsDirectoryOrHeader) {
  EXPECT_EQ(sizeOf(peImage(4, 6456)), 0u);
  EXPECT_EQ(sizeOf(peImage(0, 6456)), 0u);
  std::vector<uint8_t> elf = peImage(16, 6456);
  elf[0] = 0x7F;
  elf[1] = 'E';
  EXPECT_EQ(sizeOf(elf), 0u);
  EXPECT_EQ(certificateTableSize(nullptr, 0), 0u);
  const uint8_t mz[] = {'M', 'Z'};
  EXPECT_EQ(certificateTableSize(mz, sizeof mz), 0u);
}

TEST(PeCertificateTest, TruncatedHeadersReadNothingOutside) {
  const std::vector<uint8_t> full = peImage(16, 6456);
  const size_t entrySizeEnd = kOptionalHeader + 96 + 8 * 4 + 8;
  for (size_t size = 0; size < entrySizeEnd; ++size) {
    // A copy of exactly `size` bytes, so that a sanitizer sees any overrun.
    std::vector<uint8_t> cut(full.begin(), full.begin() + size);
    EXPECT_EQ(certificateTableSize(cut.data(), cut.size()), 0u) << size;
  }
  std::vector<uint8_t> exact(full.begin(), full.begin() + entrySizeEnd);
  EXPECT_EQ(certificateTableSize(exact.data(), exact.size()), 6456u);
  // PE offsets pointing far outside, including ones that wrap in 32 bits.
  for (uint32_t peOffset : {0xFFFFFFFFu, 0xFFFFFFF0u, 0xFFFFFF80u, 0x10000u}) {
    std::vector<uint8_t> bytes = full;
    putU32(bytes, 0x3C, peOffset);
    EXPECT_EQ(sizeOf(bytes), 0u) << peOffset;
  }
}

class CountingHandler : public TagHandler {
 public:
  bool visit(std::FILE*, const BlockDescriptor& block) override {
    tags.push_back(block.tag());
    return true;
  }
  std::string tags;
};

TEST(PeCertificateTest, SignedLauncherBundleEndsBeforeTheTable) {
  std::vector<uint8_t> bytes = peImage(16, 6456);
  bytes.resize((bytes.size() + 7) / 8 * 8, 0);
  auto block = [&bytes](char tag, const std::string& data) {
    const uint32_t start = static_cast<uint32_t>(bytes.size());
    bytes.insert(bytes.end(), data.begin(), data.end());
    const size_t at = bytes.size();
    bytes.resize(at + 8);
    putU32(bytes, at, start);
    bytes[at + 4] = 'k';
    bytes[at + 5] = 'v';
    bytes[at + 6] = 'i';
    bytes[at + 7] = static_cast<uint8_t>(tag);
  };
  block('v', "version=1.0.0.0\n");
  block('r', std::string("RELEASE\0", 8));
  std::vector<uint8_t> table(6456, 0xCC);
  std::vector<uint8_t> signedBytes = bytes;
  signedBytes.insert(signedBytes.end(), table.begin(), table.end());

  FilePtr signedFile(std::tmpfile());
  FilePtr unsignedFile(std::tmpfile());
  ASSERT_TRUE(signedFile && unsignedFile);
  std::fwrite(signedBytes.data(), 1, signedBytes.size(), signedFile.get());
  std::fwrite(bytes.data(), 1, bytes.size(), unsignedFile.get());

  const uint32_t size = certificateTableSize(signedBytes.data(), 4096);
  ASSERT_EQ(size, 6456u);
  CountingHandler signedWalk, unsignedWalk, wrongEnd;
  EXPECT_TRUE(walkBundleFrom(signedFile.get(), signedWalk, bundleEndOffsetFor(size)));
  EXPECT_EQ(signedWalk.tags, "rv");
  EXPECT_TRUE(walkBundleFrom(unsignedFile.get(), unsignedWalk, bundleEndOffsetFor(0)));
  EXPECT_EQ(unsignedWalk.tags, "rv");
  EXPECT_FALSE(walkBundleFrom(signedFile.get(), wrongEnd, bundleEndOffsetFor(0)));
  EXPECT_EQ(wrongEnd.tags, "");
}

}  // namespace
}  // namespace kv
