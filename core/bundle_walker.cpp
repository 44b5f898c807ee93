// The walk over the bundle: from the last footer backwards through each
// footer's `start`; and the reading and writing of blocks and footers. No footer value is trusted:
// every descriptor handed out lies inside the file with start <= end, and every step moves strictly
// towards the beginning of the file, so a walk ends on any file.
#include <cstring>

#include "base/fs.h"
#include "base/little_endian.h"
#include "core/bundle.h"
#include "core/platform.h"

namespace kv {
namespace {

constexpr int64_t kMaxOffset = 0xFFFFFFFFll;

// Reads the 8 footer bytes at `position` into a fresh descriptor. False when
// the footer cannot be read completely or lacks the magic; the descriptor is
// then left empty, never holding an earlier footer's bytes.
bool readFooter(std::FILE* file, int64_t position, BlockDescriptor& block) {
  block = BlockDescriptor();
  if (position < 0 || position > kMaxOffset) return false;
  std::clearerr(file);
  if (fs::seek(file, position, SEEK_SET) != 0) return false;
  unsigned char bytes[kFooterSize];
  if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) return false;
  if (!isFooter(bytes)) return false;
  block.start = readLe32(bytes);
  std::memcpy(block.magic, bytes + 4, sizeof block.magic);
  block.end = static_cast<uint32_t>(position);
  return true;
}

int64_t fileSize(std::FILE* file) {
  std::clearerr(file);
  if (fs::seek(file, 0, SEEK_END) != 0) return -1;
  return fs::tell(file);
}

}  // namespace

bool walkBundleFrom(std::FILE* file, TagHandler& handler, int64_t endOffset) {
  const int64_t size = fileSize(file);
  if (size < kFooterSize) return false;
  const int64_t lastFooter = size + endOffset;
  if (lastFooter < 0 || lastFooter + kFooterSize > size) return false;

  BlockDescriptor block;
  if (!readFooter(file, lastFooter, block) || block.start > block.end) return false;

  for (;;) {
    if (!handler.visit(file, block)) return true;
    const uint32_t previousStart = block.start;
    // The 8 bytes before the first block belong to the image; a block that
    // starts within the first 8 bytes has no footer before it.
    if (previousStart < static_cast<uint32_t>(kFooterSize)) return true;
    if (!readFooter(file, static_cast<int64_t>(previousStart) - kFooterSize, block)) return true;
    // The footer read ends the block: end == previousStart - 8, so a block
    // with start <= end lies wholly before the one just visited.
    if (block.start > block.end) return true;
  }
}

bool walkBundle(std::FILE* file, TagHandler& handler) {
  return walkBundleFrom(file, handler, bundleEndOffset(file));
}

bool bundleDamaged(std::FILE* file) {
  const uint64_t image = programImageEnd(file);
  const int64_t size = fileSize(file);
  if (image == 0 || size < 0) return false;
  const int64_t bundleEnd = size + bundleEndOffset(file) + kFooterSize;
  if (bundleEnd <= static_cast<int64_t>(image)) return false;
  BlockDescriptor block;
  return !readFooter(file, bundleEnd - kFooterSize, block) || block.start > block.end;
}

std::string readBlock(std::FILE* file, const BlockDescriptor& block, uint32_t limit) {
  uint32_t length = block.length();
  if (length > limit) length = limit;
  std::string data(length, '\0');
  if (length == 0 || fs::seek(file, block.start, SEEK_SET) != 0) return std::string();
  size_t got = std::fread(&data[0], 1, length, file);
  data.resize(got);
  return data;
}

std::string blockText(std::FILE* file, const BlockDescriptor& block, uint32_t limit) {
  std::string data = readBlock(file, block, limit);
  size_t nul = data.find('\0');
  if (nul != std::string::npos) data.resize(nul);
  return data;
}

void writeFooter(uint32_t start, char tag, unsigned char footer[kFooterSize]) {
  writeLe32(footer, start);
  std::memcpy(footer + 4, kFooterMagic, sizeof kFooterMagic);
  footer[7] = static_cast<unsigned char>(tag);
}

bool isFooter(const unsigned char* bytes) {
  return std::memcmp(bytes + 4, kFooterMagic, sizeof kFooterMagic) == 0;
}

}  // namespace kv
