// Rewrites the kMTime property of a plain 7z header in place.
#include "tools/mkbundle/archive_times.h"

#include <errno.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/fs.h"
#include "extract/block_extraction.h"

namespace mkbundle {
namespace {

constexpr size_t kStartHeaderSize = 32;
constexpr unsigned char kMTime = 0x14;
// FILETIME counts 100 ns from 1601-01-01; Unix time from 1970-01-01.
constexpr uint64_t kUnixEpochInFileTime = 11644473600ull;

// The 7z variable-length number: leading one bits of the first byte count
// the extra bytes, which follow in little-endian order.
std::string encodeNumber(uint64_t value) {
  std::string out;
  int extra = 0;
  while (extra < 8 && value >= (uint64_t{1} << (7 * (extra + 1)))) ++extra;
  const unsigned char high = extra == 8 ? 0 : static_cast<unsigned char>(value >> (8 * extra));
  out += static_cast<char>(static_cast<unsigned char>(0xFF00 >> extra) | high);
  for (int i = 0; i < extra; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
  return out;
}

void putLe(std::vector<unsigned char>& bytes, size_t at, uint64_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

uint64_t getLe(const std::vector<unsigned char>& bytes, size_t at, int size) {
  uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = (value << 8) | bytes[at + i];
  return value;
}

}  // namespace

std::string sourceDateEpoch(std::optional<uint64_t>* seconds) {
  seconds->reset();
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (!text || !*text) return "";
  char* end = nullptr;
  errno = 0;
  const uint64_t value = std::strtoull(text, &end, 10);
  if (*end || errno != 0 || text[0] == '-' || value > 0xFFFFFFFFFull)
    return std::string("SOURCE_DATE_EPOCH '") + text + "' is not a number of seconds";
  *seconds = value;
  return "";
}

std::string setArchiveTimes(const std::string& archivePath, size_t entries, uint64_t epochSeconds) {
  const std::string failure = "cannot set the times of '" + archivePath + "': ";
  kv::FilePtr file = kv::openFile(archivePath, "r+b");
  if (!file) return failure + std::strerror(errno);
  std::vector<unsigned char> start(kStartHeaderSize);
  if (std::fread(start.data(), 1, start.size(), file.get()) != start.size())
    return failure + "short file";
  const uint64_t offset = kStartHeaderSize + getLe(start, 12, 8);
  const uint64_t size = getLe(start, 20, 8);
  if (size == 0 || size > (64u << 20)) return failure + "unexpected header size";
  std::vector<unsigned char> header(static_cast<size_t>(size));
  if (kv::fs::seek(file.get(), static_cast<int64_t>(offset), SEEK_SET) != 0 ||
      std::fread(header.data(), 1, header.size(), file.get()) != header.size())
    return failure + "cannot read its header";
  if (kv::crc32(header.data(), header.size()) != getLe(start, 28, 4))
    return failure + "header CRC mismatch";

  // kMTime, its size, "all defined", "not external", then 8 bytes each.
  const std::string marker = std::string(1, static_cast<char>(kMTime)) +
                             encodeNumber(2 + 8 * uint64_t{entries}) + std::string("\x01\x00", 2);
  const size_t timesSize = 8 * entries;
  size_t found = std::string::npos;
  for (size_t at = 0; at + marker.size() + timesSize <= header.size(); ++at) {
    if (std::memcmp(header.data() + at, marker.data(), marker.size()) != 0) continue;
    if (found != std::string::npos) return failure + "its header is ambiguous";
    found = at;
  }
  if (found == std::string::npos) return failure + "no times found in its header";
  const uint64_t fileTime = (epochSeconds + kUnixEpochInFileTime) * 10000000ull;
  for (size_t i = 0; i < entries; ++i) putLe(header, found + marker.size() + 8 * i, fileTime, 8);

  putLe(start, 28, kv::crc32(header.data(), header.size()), 4);
  putLe(start, 8, kv::crc32(start.data() + 12, 20), 4);
  if (kv::fs::seek(file.get(), static_cast<int64_t>(offset), SEEK_SET) != 0 ||
      std::fwrite(header.data(), 1, header.size(), file.get()) != header.size() ||
      kv::fs::seek(file.get(), 0, SEEK_SET) != 0 ||
      std::fwrite(start.data(), 1, start.size(), file.get()) != start.size() ||
      std::fflush(file.get()) != 0)
    return failure + std::strerror(errno);
  return "";
}

}  // namespace mkbundle
