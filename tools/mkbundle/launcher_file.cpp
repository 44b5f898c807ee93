// Reads just enough of a PE image's headers to size its certificate table.
#include "tools/mkbundle/launcher_file.h"

#include <vector>

#include "core/fs.h"
#include "core/pe_certificate.h"
#include "core/signed_bundle_end.h"

namespace mkbundle {
namespace {

constexpr size_t kHeadSize = 4096;
// The certificate table's directory entry ends this far past the PE offset.
constexpr uint64_t kEntryEnd = 24 + 96 + 8 * 5;
constexpr uint64_t kMaxHeaderRead = 16u << 20;

std::vector<uint8_t> readHead(std::FILE* file, uint64_t size) {
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (kv::fs::seek(file, 0, SEEK_SET) != 0) return {};
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  return bytes;
}

}  // namespace

uint32_t certificateTableSizeOf(std::FILE* file) {
  std::vector<uint8_t> head = readHead(file, kHeadSize);
  if (head.size() < 0x40 || head[0] != 'M' || head[1] != 'Z') return 0;
  const uint64_t peOffset = static_cast<uint64_t>(head[0x3C]) | (uint64_t{head[0x3D]} << 8) |
                            (uint64_t{head[0x3E]} << 16) | (uint64_t{head[0x3F]} << 24);
  // Headers that lie beyond the first 4 KiB are read in full when sensible.
  if (peOffset + kEntryEnd > head.size() && peOffset + kEntryEnd <= kMaxHeaderRead)
    head = readHead(file, peOffset + kEntryEnd);
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
