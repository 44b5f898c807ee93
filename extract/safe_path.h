// Entry-name checks: whether an archive entry name stays below the target
// directory whatever the host. Both "/" and "\" count as separators here,
// since the same archives are extracted on Linux and on Windows.
//
// Refused: an empty name; an absolute name ("/x", "\x", "\\server\x"); a
// name with a drive letter ("C:x", "C:\x"); a name with a ".." component,
// or a component made only of dots and spaces other than "." ("...", ".. "),
// which Windows would shorten to "..".
#pragma once

#include <string>

namespace kv {

bool isSafeEntryName(const std::string& name);

}  // namespace kv
