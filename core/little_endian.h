// Little-endian integers in byte buffers (bundle footers, PE headers,
// archive coder properties), read byte by byte: no alignment is assumed.
#pragma once

#include <cstdint>

namespace kv {

inline uint32_t readLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace kv
