// Archive: the 7z decoder's database of one open archive, with its entries
// in archive order (name as UTF-8 with "/" between components, directory
// flag, attributes). The database is released when the Archive goes away.
// heapAllocator() is the plain malloc/free allocator the decoder is given.
#pragma once

#include <cstdint>
#include <string>

#include "7z.h"

namespace kv {

// Plain heap allocation and release for the decoder (size 0 gives null).
ISzAllocPtr heapAllocator();

struct ArchiveEntry {
  std::string name;  // UTF-8
  bool isDirectory = false;
  bool hasAttributes = false;
  uint32_t attributes = 0;
};

class Archive {
 public:
  Archive();
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  // Opens the archive read through `stream`, which must outlive this object.
  // 0, or the decoder's code (17: no 7z signature, 16: bad header, ...).
  int open(ILookInStreamPtr stream);

  uint32_t entryCount() const { return db_.NumFiles; }
  ArchiveEntry entry(uint32_t index) const;

  const CSzArEx& database() const { return db_; }
  ILookInStreamPtr stream() const { return stream_; }

 private:
  CSzArEx db_;
  ILookInStreamPtr stream_ = nullptr;
};

// UTF-16LE code units (surrogate pairs joined, lone surrogates as U+FFFD)
// to UTF-8.
std::string utf16ToUtf8(const UInt16* text, size_t length);

}  // namespace kv
