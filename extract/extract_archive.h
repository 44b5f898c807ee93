// extractArchive: writes every file entry of the 7z archive read through
// `stream` below `targetDir`, creating the target and the files' parent
// directories on the way (an empty directory entry is not created). Entries
// whose names would leave the target, directly or through a symbolic link
// already inside it, are refused.
//
// `progress` (may be null) hears start(number of files) once the archive is
// open, update(files written so far) after each file, and finish() at the
// end or after the first error; nothing when the archive cannot be opened.
//
// Returns 0 when every file was written, else the first failure: the
// decoder's SZ_ERROR_* result (SZ_ERROR_MEM, SZ_ERROR_CRC,
// SZ_ERROR_UNSUPPORTED, SZ_ERROR_INPUT_EOF, SZ_ERROR_ARCHIVE,
// SZ_ERROR_NO_ARCHIVE...) or SZ_ERROR_FAIL (11) when an
// output file cannot be opened, written or closed, or an entry is refused;
// 11 comes with a line on standard output naming the file or entry, or in
// *failure when `failure` is given.
#pragma once

#include <string>

#include "base/progress.h"
#include "extract/block_stream.h"

namespace kv {

int extractArchive(const std::string& targetDir, IProgress* progress, BlockStream& stream,
                   std::string* failure = nullptr);

}  // namespace kv
