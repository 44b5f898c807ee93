#include "tools/mkbundle/block_rule.h"

#include <sys/stat.h>

namespace mkbundle {

std::vector<ProbeRange> probeRanges(uint64_t fileSize) {
  if (fileSize <= kProbePiece * kProbePieces) return {{0, fileSize}};
  std::vector<ProbeRange> ranges;
  for (unsigned i = 0; i < kProbePieces; ++i)
    ranges.push_back({fileSize * i / kProbePieces, kProbePiece});
  return ranges;
}

bool barelyShrinks(uint64_t sampleBytes, uint64_t packedBytes) {
  return sampleBytes > 0 && packedBytes * 10 > sampleBytes * 9;
}

std::string splitByContent(const TreeListing& listing, const Probe& probe,
                           std::vector<TreeEntry>* common, std::vector<TreeEntry>* small) {
  for (const TreeEntry& entry : listing.entries) {
    bool toSmall = false;
    if (S_ISREG(entry.mode) && entry.size >= kProbeMinSize) {
      uint64_t sample = 0;
      uint64_t packed = 0;
      const std::string error = probe(entry, &sample, &packed);
      if (!error.empty()) return error;
      toSmall = barelyShrinks(sample, packed);
    }
    (toSmall ? small : common)->push_back(entry);
  }
  return "";
}

}  // namespace mkbundle
