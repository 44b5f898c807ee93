// Sets every entry's stored modification time in a 7z archive made by 7zz
// with -mtm=on -mhc=off (times stored, header not compressed): the times
// property is found in the plain header, rewritten, and the header CRCs
// made anew. Used for SOURCE_DATE_EPOCH, since 7zz has no switch for it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace mkbundle {

// "" or the error. `entries` is the number of entries 7zz stored.
std::string setArchiveTimes(const std::string& archivePath, size_t entries, uint64_t epochSeconds);

// SOURCE_DATE_EPOCH in *seconds (nothing when unset or empty): "" or the
// error when it is not a number of seconds.
std::string sourceDateEpoch(std::optional<uint64_t>* seconds);

}  // namespace mkbundle
