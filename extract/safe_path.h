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
#include <vector>

namespace kv {

bool isSafeEntryName(const std::string& name);

// A symbolic-link entry `name` (already a safe name) pointing to `target`:
// whether the target is relative and stays inside the target directory
// without passing through ".." after a named component (which a link on
// the way could send elsewhere): some leading ".." that climb no higher
// than the link's own folder, then names. Empty, absolute, "\"-holding and
// NUL-holding targets are refused. Links are made only on hosts where "/"
// alone separates components, so only "/" counts here. On success *path
// holds the components of the place it points to, relative to the target
// directory.
bool resolveLinkTarget(const std::string& name, const std::string& target,
                       std::vector<std::string>* path);

}  // namespace kv
