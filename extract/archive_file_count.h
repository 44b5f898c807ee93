// How many files (entries that are not directories) the 7z archive of one
// bundle block holds: read from the archive's header only, nothing is
// unpacked. Lets a progress window show one bar across several archives.
#pragma once

#include <cstdint>
#include <cstdio>

namespace kv {

// The count, or -1 when the block does not open as a 7z archive.
int countArchiveFiles(std::FILE* file, uint32_t start, uint32_t end);

}  // namespace kv
