// mkbundle's build: gathers the blocks named on the command line (archiving
// directories with 7zz), checks the launcher image and writes the output
// file in one piece.
#pragma once

#include "tools/mkbundle/options.h"

namespace mkbundle {

// Builds options.output. Returns the exit status (0, or 1 after printing
// "mkbundle: ..." on stderr); no output file is left behind on failure.
int buildBundle(const Options& options);

}  // namespace mkbundle
