// Lays out and writes the bundle after the launcher image.
#include "tools/mkbundle/bundle_writer.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstring>
#include <utility>

#include "core/bundle.h"

namespace mkbundle {
namespace {

constexpr uint64_t kAlign = 8;

uint64_t padTo8(uint64_t size) { return (kAlign - size % kAlign) % kAlign; }

std::string writeError(const std::string& outLabel) {
  return "cannot write '" + outLabel + "': " + std::strerror(errno ? errno : EIO);
}

bool writeZeros(std::FILE* out, uint64_t count) {
  static const char zeros[kAlign * 2] = {};
  while (count > 0) {
    const size_t n = count < sizeof zeros ? static_cast<size_t>(count) : sizeof zeros;
    if (std::fwrite(zeros, 1, n, out) != n) return false;
    count -= n;
  }
  return true;
}

std::string copyFile(std::FILE* from, const std::string& fromLabel, uint64_t size, std::FILE* out,
                     const std::string& outLabel) {
  if (kv::fs::seek(from, 0, SEEK_SET) != 0)
    return "cannot read '" + fromLabel + "': " + std::strerror(errno);
  std::vector<char> buffer(1 << 20);
  while (size > 0) {
    const size_t want = size < buffer.size() ? static_cast<size_t>(size) : buffer.size();
    errno = 0;
    const size_t got = std::fread(buffer.data(), 1, want, from);
    if (got != want)
      return "cannot read '" + fromLabel + "': " +
             (std::ferror(from) ? std::strerror(errno ? errno : EIO) : "file shrank while read");
    errno = 0;
    if (std::fwrite(buffer.data(), 1, got, out) != got) return writeError(outLabel);
    size -= got;
  }
  return "";
}

}  // namespace

BlockSource textBlock(char tag, const std::string& label, std::string bytes) {
  BlockSource block;
  block.tag = tag;
  block.label = label;
  block.size = bytes.size();
  block.bytes = std::move(bytes);
  return block;
}

std::string fileBlock(char tag, const std::string& path, BlockSource& block) {
  block = BlockSource();
  block.tag = tag;
  block.label = path;
  block.file = kv::openFile(path, "rb");
  if (!block.file) return "cannot read '" + path + "': " + std::strerror(errno);
  struct stat st;
  if (::fstat(::fileno(block.file.get()), &st) != 0)
    return "cannot read '" + path + "': " + std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return "cannot read '" + path + "': not a regular file";
  block.size = static_cast<uint64_t>(st.st_size);
  return "";
}

uint64_t imagePadding(uint64_t imageSize, const std::string& imageTail) {
  uint64_t padding = padTo8(imageSize);
  // The 8 bytes before the first block: the image's last bytes, then zeros.
  std::string before = imageTail + std::string(static_cast<size_t>(padding), '\0');
  if (before.size() > kAlign) before.erase(0, before.size() - kAlign);
  if (before.size() == kAlign &&
      kv::isFooter(reinterpret_cast<const unsigned char*>(before.data())))
    padding += kAlign;
  return padding;
}

uint64_t outputSize(uint64_t imageSize, uint64_t padding, const std::vector<BlockSource>& blocks) {
  if (imageSize > kMaxOutputSize) return 0;
  uint64_t total = imageSize + padding;
  for (const BlockSource& block : blocks) {
    if (block.size > kMaxOutputSize) return 0;
    total += block.size + padTo8(block.size) + kAlign;
    if (total > kMaxOutputSize) return 0;
  }
  return total;
}

std::string writeBundle(std::FILE* image, const std::string& imageLabel, uint64_t imageSize,
                        uint64_t padding, std::vector<BlockSource>& blocks, std::FILE* out,
                        const std::string& outLabel) {
  std::string error = copyFile(image, imageLabel, imageSize, out, outLabel);
  if (!error.empty()) return error;
  errno = 0;
  if (!writeZeros(out, padding)) return writeError(outLabel);
  uint64_t offset = imageSize + padding;
  for (BlockSource& block : blocks) {
    const uint64_t start = offset;
    if (block.file) {
      error = copyFile(block.file.get(), block.label, block.size, out, outLabel);
      if (!error.empty()) return error;
    } else {
      errno = 0;
      if (!block.bytes.empty() &&
          std::fwrite(block.bytes.data(), 1, block.bytes.size(), out) != block.bytes.size())
        return writeError(outLabel);
    }
    const uint64_t blockPadding = padTo8(block.size);
    unsigned char footer[kv::kFooterSize];
    kv::writeFooter(static_cast<uint32_t>(start), block.tag, footer);
    errno = 0;
    if (!writeZeros(out, blockPadding) ||
        std::fwrite(footer, 1, sizeof footer, out) != sizeof footer)
      return writeError(outLabel);
    offset = start + block.size + blockPadding + kAlign;
  }
  return "";
}

}  // namespace mkbundle
