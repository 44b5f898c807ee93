// How many files (entries that are not directories) the 7z archive of one
// bundle block holds, and how many bytes they unpack to: read from the
// archive's header only, nothing is unpacked. Lets a progress window show
// one bar across several archives.
#pragma once

#include <cstdint>
#include <cstdio>

namespace kv {

// The count and the unpacked bytes of those files together; false (and
// nothing set) when the block does not open as a 7z archive.
bool measureArchive(std::FILE* file, uint32_t start, uint32_t end, int& files, uint64_t& bytes);

}  // namespace kv
