// Whether an entry the launcher did not make in this run may be deleted or
// changed by its name: only a plain file with one link that lies where its
// name says. A link (a reparse point, or a POSIX link that Wine shows as a
// plain file), a hard-linked file or a folder is not; deleting or changing
// such an entry by name could act on a file elsewhere.
#pragma once

#include <string>

namespace kv {

bool isPlainFileHere(const std::string& path);

}  // namespace kv
