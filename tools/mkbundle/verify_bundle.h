// mkbundle --verify: walks a bundled launcher as the launcher does,
// test-decodes every archive block with its CRCs, applies the bundle checks
// for the launcher's platform, and prints one line per block, the problems
// and a verdict.
#pragma once

#include <cstdio>
#include <string>

namespace mkbundle {

// Prints the report on `out`. True when the launcher would install the
// bundle; false with `message` set when the file cannot be read or the
// report not written, and false with `message` empty when the verdict
// refuses it.
bool verifyBundle(const std::string& path, std::FILE* out, std::string* message);

}  // namespace mkbundle
