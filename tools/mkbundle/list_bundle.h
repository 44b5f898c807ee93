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
// Returns the exit status: 0 listed, 1 no
// bundle, unreadable file or an archive that cannot be opened (message on
// stderr).
int listBundle(const std::string& path, bool files, std::FILE* out);

}  // namespace mkbundle
