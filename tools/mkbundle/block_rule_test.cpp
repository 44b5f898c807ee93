#include "tools/mkbundle/block_rule.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

namespace mkbundle {
namespace {

TEST(BlockRuleTest, ProbeReadsEvenlySpreadPiecesOfLargeFilesAndSmallFilesWhole) {
  EXPECT_EQ(probeRanges(100000).size(), 1u);
  EXPECT_EQ(probeRanges(100000)[0].size, 100000u);
  EXPECT_EQ(probeRanges(kProbePieces * kProbePiece).size(), 1u);
  const uint64_t size = 100u << 20;
  const std::vector<ProbeRange> ranges = probeRanges(size);
  ASSERT_EQ(ranges.size(), kProbePieces);
  for (size_t i = 0; i < ranges.size(); ++i) {
    EXPECT_EQ(ranges[i].offset, size / kProbePieces * i);
    EXPECT_EQ(ranges[i].size, kProbePiece);
  }
  // Not the end, where a zip keeps its directory of names.
  EXPECT_LT(ranges.back().offset + ranges.back().size, size - (1u << 20));
}

TEST(BlockRuleTest, DataThatKeepsMoreThanNineTenthsGoesToSmallBlocks) {
  const struct {
    uint64_t sample, packed;
    bool small;
  } cases[] = {
      {1000, 960, true},   // a .jmod: zip of deflated classes
      {1000, 1010, true},  // random bytes grow a little
      {1000, 900, false},  // exactly nine tenths stays
      {1000, 300, false},  // text
      {0, 60, false},      // nothing sampled
  };
  for (const auto& c : cases) {
    EXPECT_EQ(barelyShrinks(c.sample, c.packed), c.small) << c.sample << " " << c.packed;
  }
}

TreeEntry entry(const char* path, mode_t mode, uint64_t size) {
  TreeEntry e;
  e.path = path;
  e.mode = mode;
  e.size = size;
  return e;
}

TEST(BlockRuleTest, OnlyLargeRegularFilesAreProbedAndTheOrderIsKept) {
  TreeListing listing;
  listing.entries = {
      entry("a.jmod", S_IFREG | 0644, 1 << 20),          entry("b.txt", S_IFREG | 0644, 1 << 20),
      entry("c.png", S_IFREG | 0644, kProbeMinSize - 1), entry("d", S_IFLNK | 0777, 1 << 20),
      entry("e.tar.gz", S_IFREG | 0644, 5 << 20),
  };
  const std::map<std::string, uint64_t> packedPerMille = {
      {"a.jmod", 940}, {"b.txt", 250}, {"c.png", 999}, {"d", 999}, {"e.tar.gz", 1001}};
  std::vector<std::string> probed;
  const Probe probe = [&](const TreeEntry& e, uint64_t* sample, uint64_t* packed) {
    probed.push_back(e.path);
    *sample = 1000;
    *packed = packedPerMille.at(e.path);
    return std::string();
  };
  std::vector<TreeEntry> common;
  std::vector<TreeEntry> small;
  ASSERT_EQ(splitByContent(listing, probe, &common, &small), "");
  EXPECT_EQ(probed, (std::vector<std::string>{"a.jmod", "b.txt", "e.tar.gz"}));
  ASSERT_EQ(common.size(), 3u);
  EXPECT_EQ(common[0].path, "b.txt");
  EXPECT_EQ(common[1].path, "c.png");
  EXPECT_EQ(common[2].path, "d");
  ASSERT_EQ(small.size(), 2u);
  EXPECT_EQ(small[0].path, "a.jmod");
  EXPECT_EQ(small[1].path, "e.tar.gz");

  const Probe failing = [](const TreeEntry& e, uint64_t*, uint64_t*) {
    return "cannot read '" + e.path + "'";
  };
  common.clear();
  small.clear();
  EXPECT_EQ(splitByContent(listing, failing, &common, &small), "cannot read 'a.jmod'");
}

}  // namespace
}  // namespace mkbundle
