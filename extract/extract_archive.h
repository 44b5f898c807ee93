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
// decoder's code (2 out of memory, 3 CRC mismatch, 4 unsupported coder,
// 6 unexpected end, 16 bad header, 17 not a 7z archive...) or 11 when an
// output file cannot be opened, written or closed, or an entry is refused;
// 11 comes with a line on standard output naming the file or entry.
#pragma once

#include <string>

#include "core/progress.h"
#include "extract/block_stream.h"

namespace kv {

int extractArchive(const std::string& targetDir, IProgress* progress, BlockStream& stream);

}  // namespace kv
