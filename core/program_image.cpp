// Reads the few header fields that say how far an ELF or PE image reaches
// in its file. Every field is read from the file itself; a field that cannot
// be read makes the answer 0 (unknown), never a guess.
#include "core/program_image.h"

#include <algorithm>
#include <vector>

#include "base/fs.h"

namespace kv {
namespace {

constexpr uint32_t kMaxTableEntries = 65535;

// `size` bytes at `offset`; false when they are not all in the file.
bool readAt(std::FILE* file, uint64_t offset, std::vector<uint8_t>& out, size_t size) {
  out.assign(size, 0);
  std::clearerr(file);
  if (fs::seek(file, static_cast<int64_t>(offset), SEEK_SET) != 0) return false;
  return std::fread(out.data(), 1, size, file) == size;
}

uint64_t le(const std::vector<uint8_t>& bytes, size_t offset, int width) {
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[offset + i];
  return value;
}

// One ELF class's field positions.
struct ElfLayout {
  int word;  // 4 or 8
  size_t phoff, shoff, phentsize, phnum, shentsize, shnum;
  size_t pOffset, pFilesz, shType, shOffset, shSize;
};
constexpr ElfLayout kElf32 = {4, 28, 32, 42, 44, 46, 48, 4, 16, 4, 16, 20};
constexpr ElfLayout kElf64 = {8, 32, 40, 54, 56, 58, 60, 8, 32, 4, 24, 32};
constexpr uint32_t kShtNobits = 8;

// The end of a table of `count` entries of `entrySize` bytes at `offset`,
// calling `entry` with each entry's bytes. 0 when an entry cannot be read.
template <typename Entry>
uint64_t tableEnd(std::FILE* file, uint64_t offset, uint64_t count, uint64_t entrySize,
                  size_t minEntry, Entry entry) {
  if (count == 0) return 0;
  if (count > kMaxTableEntries || entrySize < minEntry) return 0;
  std::vector<uint8_t> bytes;
  for (uint64_t i = 0; i < count; ++i) {
    if (!readAt(file, offset + i * entrySize, bytes, minEntry)) return 0;
    entry(bytes);
  }
  return offset + count * entrySize;
}

}  // namespace

uint64_t elfImageEnd(std::FILE* file) {
  std::vector<uint8_t> h;
  if (!readAt(file, 0, h, 64) || h[0] != 0x7F || h[1] != 'E' || h[2] != 'L' || h[3] != 'F' ||
      h[5] != 1)
    return 0;
  if (h[4] != 1 && h[4] != 2) return 0;
  const ElfLayout& f = h[4] == 1 ? kElf32 : kElf64;
  uint64_t end = 0;
  const auto program = [&](const std::vector<uint8_t>& e) {
    end = std::max(end, le(e, f.pOffset, f.word) + le(e, f.pFilesz, f.word));
  };
  const auto section = [&](const std::vector<uint8_t>& e) {
    if (le(e, f.shType, 4) != kShtNobits)
      end = std::max(end, le(e, f.shOffset, f.word) + le(e, f.shSize, f.word));
  };
  const size_t programEntry = f.pFilesz + f.word;
  const size_t sectionEntry = f.shSize + f.word;
  const uint64_t phnum = le(h, f.phnum, 2), shnum = le(h, f.shnum, 2);
  const uint64_t programs =
      tableEnd(file, le(h, f.phoff, f.word), phnum, le(h, f.phentsize, 2), programEntry, program);
  const uint64_t sections =
      tableEnd(file, le(h, f.shoff, f.word), shnum, le(h, f.shentsize, 2), sectionEntry, section);
  if ((phnum && !programs) || (shnum && !sections)) return 0;
  return std::max({end, programs, sections, static_cast<uint64_t>(f.word == 4 ? 52 : 64)});
}

uint64_t peImageEnd(std::FILE* file) {
  std::vector<uint8_t> mz;
  if (!readAt(file, 0, mz, 64) || mz[0] != 'M' || mz[1] != 'Z') return 0;
  const uint64_t pe = le(mz, 0x3C, 4);
  std::vector<uint8_t> h;
  if (!readAt(file, pe, h, 24 + 64) || h[0] != 'P' || h[1] != 'E' || h[2] || h[3]) return 0;
  const uint64_t sectionCount = le(h, 6, 2);
  const uint64_t symbols = le(h, 12, 4), symbolCount = le(h, 16, 4);
  const uint64_t optionalSize = le(h, 20, 2);
  uint64_t end = le(h, 24 + 60, 4);  // SizeOfHeaders
  const auto section = [&](const std::vector<uint8_t>& e) {
    const uint64_t size = le(e, 16, 4);
    if (size) end = std::max(end, le(e, 20, 4) + size);
  };
  const uint64_t table = pe + 24 + optionalSize;
  if (sectionCount && !tableEnd(file, table, sectionCount, 40, 40, section)) return 0;
  if (symbols && symbolCount) {
    // The string table follows the symbols and starts with its own size.
    const uint64_t strings = symbols + symbolCount * 18;
    std::vector<uint8_t> length;
    if (!readAt(file, strings, length, 4)) return 0;
    end = std::max(end, strings + le(length, 0, 4));
  }
  return end;
}

}  // namespace kv
