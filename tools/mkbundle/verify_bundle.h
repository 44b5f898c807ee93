// mkbundle --verify: walks a bundled launcher as the launcher does,
// test-decodes every archive block with its CRCs, applies the bundle checks
// for the launcher's platform, and prints one line per block, the problems
// and a verdict.
#pragma once

#include <cstdio>
#include <string>

namespace mkbundle {

// 0 when the launcher would install the bundle, 1 otherwise.
int verifyBundle(const std::string& path, std::FILE* out);

}  // namespace mkbundle
