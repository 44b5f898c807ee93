// The last word on whether the launcher installs a bundle: its archives are
// extracted by the launcher's own code (extractBundleArchive(), the one the
// runs use) into a new, empty temporary folder, in the order a run meets
// them, and the folder is removed again whatever happened.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace mkbundle {

// Walks the bundle ending `endOffset` bytes before the end of `file` (as
// bundleEndOffsetOf() gives it). "" when every archive was extracted, else
// the problem: the archive and the launcher's failure line.
std::string trialInstall(std::FILE* file, int64_t endOffset);

// "installer", "runtime" or "payload" for an archive block's tag; "" else.
std::string archiveRole(char tag);

}  // namespace mkbundle
