// Size of the Authenticode certificate table of a PE image, read from its
// optional header (data directory 4). A pure function over the file's bytes:
// the Windows launcher applies it to a mapping of its own file, mkbundle to a
// file it lists.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

// The "MZ" header's size, and the offset of its field holding the PE
// header's offset.
constexpr size_t kMzHeaderSize = 0x40;
constexpr size_t kPeOffsetField = 0x3C;

// How many bytes from the start of an image whose PE header lies at
// `peOffset` certificateTableSize() reads at most: up to the end of the
// certificate table's entry in the data directory.
uint64_t certificateEntryEnd(uint64_t peOffset);

// 0 when the bytes do not begin with "MZ", the header lies outside the bytes,
// or the optional header has 4 or fewer data directories. Nothing else is
// checked (not the PE signature, not the optional-header magic).
uint32_t certificateTableSize(const uint8_t* bytes, size_t size);

// The offset from the end of the file at which the last footer is read:
// -(size + 8).
inline int64_t bundleEndOffsetFor(uint32_t certificateTableSize) {
  return -static_cast<int64_t>(certificateTableSize) - 8;
}

}  // namespace kv
