// The end of the bundle in front of a certificate table, allowing for the
// zero padding that signing puts before the table.
#include "core/signed_bundle_end.h"

#include <cstring>

#include "core/bundle.h"
#include "core/pe_certificate.h"

namespace kv {

namespace {

constexpr uint32_t kMaxSigningPadding = 7;

// True when a footer with the magic ends `fromEnd` bytes before the end.
bool footerEndsAt(const uint8_t* bytes, size_t size, uint64_t fromEnd) {
  if (fromEnd + kFooterSize > size) return false;
  const uint8_t* footer = bytes + (size - fromEnd - kFooterSize);
  return std::memcmp(footer + 4, kFooterMagic, sizeof kFooterMagic) == 0;
}

}  // namespace

int64_t signedBundleEndOffset(const uint8_t* bytes, size_t size) {
  const uint32_t table = certificateTableSize(bytes, size);
  const int64_t plain = bundleEndOffsetFor(table);
  if (table == 0 || table > size || footerEndsAt(bytes, size, table)) return plain;
  for (uint32_t padding = 1; padding <= kMaxSigningPadding; ++padding) {
    const uint64_t fromEnd = static_cast<uint64_t>(table) + padding;
    if (fromEnd > size || bytes[size - fromEnd] != 0) break;
    if (footerEndsAt(bytes, size, fromEnd)) return plain - padding;
  }
  return plain;
}

}  // namespace kv
