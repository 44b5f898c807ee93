// The extraction as the rest of the launcher sees it: a 7z archive held in
// the bytes [start, end) of the launcher file, extracted to a directory or
// measured. No decoder type appears here; everything behind it (the block
// stream, the LZMA SDK, the decoding threads, the file output) stays inside
// extract/.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/progress.h"

namespace kv {

// Writes every file entry of the archive below `targetDir`, as
// extractArchive() does (extract_archive.h): 0 when every file was
// written, else the decoder's SZ_ERROR_* result (SZ_ERROR_MEM 2,
// SZ_ERROR_CRC 3, SZ_ERROR_UNSUPPORTED 4, SZ_ERROR_INPUT_EOF 6,
// SZ_ERROR_ARCHIVE 16, SZ_ERROR_NO_ARCHIVE 17, ...) or 11 (SZ_ERROR_FAIL)
// for an output file or a refused entry; the number is shown to the user.
// `progress` may be null.
int extractBlock(std::FILE* file, uint32_t start, uint32_t end, const std::string& targetDir,
                 IProgress* progress);

// How many files (entries that are not directories) the archive holds, and
// how many bytes they unpack to, read from the archive's header only:
// nothing is unpacked. Lets a progress window show one bar across several
// archives. False (and nothing set) when the block does not open as a 7z
// archive.
bool measureArchive(std::FILE* file, uint32_t start, uint32_t end, int& files, uint64_t& bytes);

}  // namespace kv
