// What mkbundle reads before it writes: the launcher's kind, the archives
// (a folder is walked, then archived; a ready .7z is test-decoded), and the
// checks over all of them, printed as refusals and warnings.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "tools/mkbundle/bundle_rules.h"
#include "tools/mkbundle/tree_walk.h"

namespace mkbundle {

enum class LauncherKind { kUnknown, kLinux, kWindows };

// From the first bytes: ELF is the Linux launcher, MZ the Windows one.
LauncherKind launcherKindOf(std::FILE* file);

// The items of a walked folder as an archive would hold them, with the
// contents the checks read (link targets, .eclipseproduct files).
ArchiveInfo infoFromTree(const std::string& folder, const TreeListing& listing);

// Prints the findings on standard error as "mkbundle: refused: ..." or
// "mkbundle: warning: ..." (refusals as warnings when `unchecked`). Returns
// the number of refusals that stand.
int reportFindings(const std::vector<Finding>& findings, bool unchecked, bool warnings = true);

}  // namespace mkbundle
