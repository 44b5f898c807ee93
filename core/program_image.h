// Where the program itself ends in a launcher file: the end of its ELF or
// PE image, after which mkbundle appends the bundle. Read from the image's
// own headers, so each host's launcher can tell bytes that belong to it from
// bytes that were appended (or cut short).
#pragma once

#include <cstdint>
#include <cstdio>

namespace kv {

// The end of a little-endian ELF image (32- or 64-bit): the furthest of its
// header, program headers, section headers and the sections' file bytes.
// 0 when the file does not hold such an image.
uint64_t elfImageEnd(std::FILE* file);

// The end of a PE image: the furthest of its headers, sections' raw data
// and COFF symbol and string tables. A certificate table is not counted.
// 0 when the file does not hold a PE image.
uint64_t peImageEnd(std::FILE* file);

}  // namespace kv
