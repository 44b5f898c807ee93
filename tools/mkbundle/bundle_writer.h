// Writes a launcher image followed by its bundle: the blocks in the given
// order, each starting at a multiple of 8, zero-padded to a multiple of 8
// and followed by its footer (core/bundle.h). Offsets are 32-bit,
// so the whole output must stay below 4 GiB.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/fs.h"

namespace mkbundle {

constexpr uint64_t kMaxOutputSize = 0xFFFFFFFFull;

// One block's data: either `bytes` or the open `file` of `size` bytes.
struct BlockSource {
  char tag = 0;
  std::string label;  // names the source in messages
  std::string bytes;
  kv::FilePtr file;
  uint64_t size = 0;
};

BlockSource textBlock(char tag, const std::string& label, std::string bytes);

// Opens a regular, readable file as a block source. "" or the error.
std::string fileBlock(char tag, const std::string& path, BlockSource& block);

// Zero bytes to put after an image of `imageSize` bytes, whose last bytes
// (up to 8) are `imageTail`, so that the first block starts at a multiple
// of 8 and the 8 bytes before it can never read as a footer.
uint64_t imagePadding(uint64_t imageSize, const std::string& imageTail);

// The length of the output, or 0 when it would not stay below 4 GiB.
uint64_t outputSize(uint64_t imageSize, uint64_t padding, const std::vector<BlockSource>& blocks);

// Copies `imageSize` bytes of `image`, the padding and the blocks to `out`.
// "" or the error.
std::string writeBundle(std::FILE* image, const std::string& imageLabel, uint64_t imageSize,
                        uint64_t padding, std::vector<BlockSource>& blocks, std::FILE* out,
                        const std::string& outLabel);

}  // namespace mkbundle
