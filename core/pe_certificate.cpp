// Reads the certificate table size from a PE image's data directory 4.
// Every field is read only when it lies wholly inside the given bytes.
#include "core/pe_certificate.h"

#include "base/little_endian.h"

namespace kv {
namespace {

constexpr uint64_t kOptionalHeaderOffset = 24;  // "PE\0\0" and the file header
constexpr uint64_t kDirectoryCountField = 92;
constexpr uint64_t kDirectoriesField = 96;
constexpr uint32_t kSecurityDirectory = 4;

// The little-endian word at `offset`; false when it is not wholly inside.
bool readU32(const uint8_t* bytes, size_t size, uint64_t offset, uint32_t& value) {
  if (offset > size || size - offset < 4) return false;
  value = readLe32(bytes + offset);
  return true;
}

}  // namespace

uint64_t certificateEntryEnd(uint64_t peOffset) {
  return peOffset + kOptionalHeaderOffset + kDirectoriesField + 8u * (kSecurityDirectory + 1);
}

uint32_t certificateTableSize(const uint8_t* bytes, size_t size) {
  if (!bytes || size < 2 || bytes[0] != 'M' || bytes[1] != 'Z') return 0;
  uint32_t peOffset = 0;
  if (!readU32(bytes, size, kPeOffsetField, peOffset)) return 0;
  const uint64_t optionalHeader = static_cast<uint64_t>(peOffset) + kOptionalHeaderOffset;
  uint32_t directoryCount = 0;
  if (!readU32(bytes, size, optionalHeader + kDirectoryCountField, directoryCount)) return 0;
  if (directoryCount <= kSecurityDirectory) return 0;
  const uint64_t entry = optionalHeader + kDirectoriesField + 8u * kSecurityDirectory;
  uint32_t tableSize = 0;
  if (!readU32(bytes, size, entry + 4, tableSize)) return 0;
  return tableSize;
}

}  // namespace kv
