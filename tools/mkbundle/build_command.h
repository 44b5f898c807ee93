// mkbundle's build: gathers the blocks named on the command line (archiving
// directories with 7zz), checks the launcher image and writes the output
// file in one piece.
#pragma once

#include <string>

#include "tools/mkbundle/options.h"

namespace mkbundle {

// Builds options.output. Returns "" or the message for standard error
// (without the "mkbundle: " prefix); findings and progress are printed on
// the way. No output file is left behind on failure.
std::string buildBundle(const Options& options);

}  // namespace mkbundle
