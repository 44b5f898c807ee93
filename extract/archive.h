// Archive: the 7z decoder's database of one open archive, with its entries
// in archive order (name as UTF-8 with "/" between components, directory
// flag, attributes). The database is released when the Archive goes away.
// heapAllocator() is the plain malloc/free allocator the decoder is given.
#pragma once

#include <cstdint>
#include <memory>
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
  // A name longer than any host accepts (a path of at most 32767 UTF-16
  // units) is cut there, so that a header of a few huge names costs no
  // copies of them; nameIsCut then says so.
  static constexpr size_t kMaxNameUnits = 32767;
  bool nameIsCut = false;

  // A symbolic link: the Unix link mode in the high 16 bits, as 7-Zip's
  // -snl stores one; the entry's bytes are the link's target.
  bool isSymbolicLink() const;
};

// The file entries of each folder in archive order, in one flat table of
// 4 bytes per file, so that a header declaring millions of entries costs
// no more than the decoder's own tables. Allocation failure is a return
// value.
class FolderFiles {
 public:
  // False when the memory is not there.
  bool build(const CSzArEx& db);

  struct List {
    const UInt32* data = nullptr;
    size_t count = 0;
    size_t size() const { return count; }
    bool empty() const { return count == 0; }
    UInt32 front() const { return data[0]; }
    UInt32 back() const { return data[count - 1]; }
    UInt32 operator[](size_t i) const { return data[i]; }
  };
  UInt32 folderCount() const { return folders_; }
  List of(UInt32 folder) const;

 private:
  UInt32 folders_ = 0;
  std::unique_ptr<UInt32[]> starts_;  // folders_ + 1 positions in files_
  std::unique_ptr<UInt32[]> files_;
};

// The decoder's tables for the entries (its main allocations) may take at
// most kTableBase plus kTablesPerHeaderByte times the size of the header
// they are read from (its largest temporary buffer: the header as stored,
// or as unpacked); beyond that an allocation fails (code 2). Real headers
// need a small fraction of that; one that declares millions of entries in
// a few bits each cannot make the launcher take hundreds of megabytes.
class TableBudget {
 public:
  static constexpr size_t kTableBase = 16u << 20;
  static constexpr size_t kTablesPerHeaderByte = 16;

  TableBudget();
  ISzAllocPtr main() { return &main_.vt; }
  ISzAllocPtr temporary() { return &temporary_.vt; }

 private:
  struct Hook {
    ISzAlloc vt;
    TableBudget* owner;
  };
  static void* allocMain(ISzAllocPtr hook, size_t size);
  static void freeMain(ISzAllocPtr hook, void* address);
  static void* allocTemporary(ISzAllocPtr hook, size_t size);
  static void freeTemporary(ISzAllocPtr hook, void* address);

  Hook main_;
  Hook temporary_;
  size_t used_ = 0;
  size_t largestTemporary_ = 0;
};

class Archive {
 public:
  Archive();
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  // Reads the archive's database through `stream`, which is not kept.
  // 0, or the decoder's code (17: no 7z signature, 16: bad header, 2: out
  // of memory or over the table budget, ...).
  int open(ILookInStreamPtr stream);

  uint32_t entryCount() const { return db_.NumFiles; }
  ArchiveEntry entry(uint32_t index) const;

  const CSzArEx& database() const { return db_; }

 private:
  TableBudget budget_;
  CSzArEx db_;
};

// UTF-16LE code units (surrogate pairs joined, lone surrogates as U+FFFD)
// to UTF-8.
std::string utf16ToUtf8(const UInt16* text, size_t length);

}  // namespace kv
