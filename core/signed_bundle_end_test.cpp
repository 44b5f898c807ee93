#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/signed_bundle_end.h"

namespace kv {
namespace {

constexpr uint32_t kPeOffset = 0x40;
constexpr size_t kOptionalHeader = kPeOffset + 24;
constexpr size_t kImageSize = kOptionalHeader + 96 + 8 * 16;

void putU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A PE image of kImageSize bytes, `bundleBytes` bytes of bundle ending in a
// footer, `padding` zero bytes and a certificate table of `table` bytes
// (none when 0).
std::vector<uint8_t> signedLauncher(size_t bundleBytes, size_t padding, uint32_t table) {
  std::vector<uint8_t> bytes(kImageSize, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  putU32(bytes, 0x3C, kPeOffset);
  putU32(bytes, kOptionalHeader + 92, 16);
  putU32(bytes, kOptionalHeader + 96 + 8 * 4,
         static_cast<uint32_t>(kImageSize + bundleBytes + padding));
  putU32(bytes, kOptionalHeader + 96 + 8 * 4 + 4, table);
  bytes.resize(kImageSize + bundleBytes, 'x');
  const std::string footer = std::string("\0\0\0\0", 4) + "kvir";
  std::copy(footer.begin(), footer.end(), bytes.end() - 8);
  bytes.resize(bytes.size() + padding, 0);
  bytes.resize(bytes.size() + table, 0x30);
  return bytes;
}

int64_t offsetOf(const std::vector<uint8_t>& bytes) {
  return signedBundleEndOffset(bytes.data(), bytes.size());
}

TEST(SignedBundleEndTest, FooterRightBeforeTheTable) {
  EXPECT_EQ(offsetOf(signedLauncher(24, 0, 0)), -8);
  EXPECT_EQ(offsetOf(signedLauncher(24, 0, 6456)), -6464);
}

TEST(SignedBundleEndTest, LooksPastTheSigningPadding) {
  for (size_t padding = 1; padding <= 7; ++padding) {
    EXPECT_EQ(offsetOf(signedLauncher(21, padding, 1000)), -1008 - static_cast<int64_t>(padding))
        << padding;
  }
}

TEST(SignedBundleEndTest, FallsBackWhenNothingMatches) {
  // Eight bytes of padding are more than signing ever adds.
  EXPECT_EQ(offsetOf(signedLauncher(24, 8, 1000)), -1008);
  // Non-zero bytes in the gap are not padding.
  std::vector<uint8_t> dirty = signedLauncher(23, 3, 1000);
  dirty[dirty.size() - 1000 - 2] = 1;
  EXPECT_EQ(offsetOf(dirty), -1008);
  // A table size beyond the file.
  std::vector<uint8_t> wild = signedLauncher(24, 0, 0);
  putU32(wild, kOptionalHeader + 96 + 8 * 4 + 4, 0xFFFFFFF0u);
  EXPECT_EQ(offsetOf(wild), -(0xFFFFFFF0ll + 8));
  EXPECT_EQ(signedBundleEndOffset(nullptr, 0), -8);
}

}  // namespace
}  // namespace kv
