// Where the bundle of a signed Windows launcher ends: just before the
// Authenticode certificate table. Signing tools start the table on an 8-byte
// boundary and fill the gap with up to 7 zero bytes, so a bundle whose end
// was not 8-aligned is followed by that padding. A pure function over the
// file's bytes (the launcher maps its own file).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

// The offset from the end of the file at which the last footer is read:
// -(S + 8) for a certificate table of S bytes (-8 when there is none), or,
// when no footer magic is found there, -(S + 8 + k) for the smallest k in
// 1..7 whose k bytes before the table are all zero and which puts a footer
// magic in place. Falls back to -(S + 8).
int64_t signedBundleEndOffset(const uint8_t* bytes, size_t size);

}  // namespace kv
