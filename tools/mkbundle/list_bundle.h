// mkbundle --list: prints the blocks of a launcher file, first block first,
// one line per block: TAG OFFSET LENGTH ["TEXT"] (see the usage text).
#pragma once

#include <cstdio>
#include <string>

namespace mkbundle {

// The display form of a block's text: up to its first NUL, v lines joined
// by "; ", quoted and escaped. `cut` adds the "..." mark.
std::string displayText(char tag, const std::string& data, bool cut);

// Lists `path` to `out`; with `files`, each archive block is followed by
// its entries from the archive's header, one per line: "  MODE SIZE PATH".
// True when listed; false with `message` set when the file cannot be read
// or the listing not written, and false with `message` empty when there is
// no bundle ("no bundle" on `out`) or an archive cannot be read (its
// problems on standard error).
bool listBundle(const std::string& path, bool files, std::FILE* out, std::string* message);

// Flushes a report; false with `message` set when it could not be written.
bool flushed(std::FILE* out, std::string* message);

}  // namespace mkbundle
