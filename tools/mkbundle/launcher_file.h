// Where the bundle of a launcher file ends, found the way the launcher finds
// it: before the certificate table of a signed PE image, else at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "base/fs.h"

namespace mkbundle {

// The certificate table size of the file when it begins with "MZ", else 0.
uint32_t certificateTableSizeOf(std::FILE* file);

// Opens a bundled file to read: "" or the message ("cannot read 'PATH': ...").
std::string openBundleFile(const std::string& path, kv::FilePtr& file);

// The offset from the end of the file at which the last footer lies.
int64_t bundleEndOffsetOf(std::FILE* file);

}  // namespace mkbundle
