// Names Windows cannot hold: what mkbundle --windows refuses in an archive
// because the Windows launcher could not create the entry, or would create
// two entries as one.
#pragma once

#include <string>

namespace mkbundle {

// Why Windows cannot hold the path's name (a device name such as "CON" or
// "lpt1.txt", a name ending in a dot or a space, a character Windows
// forbids), or "" when every part of it is a name Windows can hold.
std::string windowsNameProblem(const std::string& path);

// The key under which Windows finds the path: "/" for "\", ASCII letters in
// lower case, trailing dots and spaces of every part dropped. Two entries
// with the same key are one file on Windows.
std::string windowsNameKey(const std::string& path);

}  // namespace mkbundle
