// Opens bundled files and reads just enough of a PE image's headers to size
// its certificate table.
#include "tools/mkbundle/launcher_file.h"

#include <errno.h>

#include <cstring>
#include <vector>

#include "base/fs.h"
#include "base/little_endian.h"
#include "core/pe_certificate.h"
#include "core/signed_bundle_end.h"

namespace mkbundle {
namespace {

constexpr size_t kHeadSize = 4096;
constexpr uint64_t kMaxHeaderRead = 16u << 20;

std::vector<uint8_t> readHead(std::FILE* file, uint64_t size) {
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (kv::fs::seek(file, 0, SEEK_SET) != 0) return {};
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  return bytes;
}

}  // namespace

std::string openBundleFile(const std::string& path, kv::FilePtr& file) {
  file = kv::openFile(path, "rb");
  if (file && kv::fs::isRegularFile(path)) return "";
  return "cannot read '" + path + "': " + (file ? "not a regular file" : std::strerror(errno));
}

uint32_t certificateTableSizeOf(std::FILE* file) {
  std::vector<uint8_t> head = readHead(file, kHeadSize);
  if (head.size() < kv::kMzHeaderSize || head[0] != 'M' || head[1] != 'Z') return 0;
  const uint64_t entryEnd = kv::certificateEntryEnd(kv::readLe32(&head[kv::kPeOffsetField]));
  // Headers that lie beyond the first 4 KiB are read in full when sensible.
  if (entryEnd > head.size() && entryEnd <= kMaxHeaderRead) head = readHead(file, entryEnd);
  return kv::certificateTableSize(head.data(), head.size());
}

int64_t bundleEndOffsetOf(std::FILE* file) {
  uint32_t tableSize = certificateTableSizeOf(file);
  if (tableSize == 0) return kv::bundleEndOffsetFor(0);
  // A signed launcher: look past the zero bytes a signing tool may have put
  // between an unaligned bundle and the table, as the launcher does.
  if (kv::fs::seek(file, 0, SEEK_END) != 0) return kv::bundleEndOffsetFor(tableSize);
  int64_t size = kv::fs::tell(file);
  if (size <= 0 || static_cast<uint64_t>(size) > (uint64_t{1} << 32)) {
    return kv::bundleEndOffsetFor(tableSize);
  }
  std::vector<uint8_t> bytes = readHead(file, static_cast<uint64_t>(size));
  return kv::signedBundleEndOffset(bytes.data(), bytes.size());
}

}  // namespace mkbundle
