#include "extract/archive.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "7zCrc.h"

namespace kv {

namespace {

void* heapAlloc(ISzAllocPtr, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void heapFree(ISzAllocPtr, void* address) { std::free(address); }

const ISzAlloc kHeapAllocator = {heapAlloc, heapFree};

void appendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

ISzAllocPtr heapAllocator() { return &kHeapAllocator; }

std::string utf16ToUtf8(const UInt16* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    appendUtf8(out, c);
  }
  return out;
}

bool ArchiveEntry::isSymbolicLink() const {
  constexpr uint32_t kUnixExtension = 0x8000;
  constexpr uint32_t kTypeMask = 0170000;
  constexpr uint32_t kLinkType = 0120000;
  if (!hasAttributes) return false;
  return (attributes & kUnixExtension) != 0 && ((attributes >> 16) & kTypeMask) == kLinkType;
}

bool FolderFiles::build(const CSzArEx& db) {
  constexpr UInt32 kNoFolder = 0xFFFFFFFFu;
  folders_ = db.db.NumFolders;
  starts_.reset(new (std::nothrow) UInt32[static_cast<size_t>(folders_) + 1]());
  if (!starts_) return false;
  UInt32 files = 0;
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    const UInt32 folder = db.FileToFolder ? db.FileToFolder[i] : kNoFolder;
    if (folder == kNoFolder || folder >= folders_ || SzArEx_IsDir(&db, i)) continue;
    ++starts_[folder + 1];
    ++files;
  }
  for (UInt32 f = 0; f < folders_; ++f) starts_[f + 1] += starts_[f];
  files_.reset(new (std::nothrow) UInt32[files > 0 ? files : 1]);
  if (!files_) return false;
  // The folders' files in order: the next free slot of each folder.
  std::unique_ptr<UInt32[]> next(new (std::nothrow) UInt32[folders_ > 0 ? folders_ : 1]);
  if (!next) return false;
  for (UInt32 f = 0; f < folders_; ++f) next[f] = starts_[f];
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    const UInt32 folder = db.FileToFolder ? db.FileToFolder[i] : kNoFolder;
    if (folder == kNoFolder || folder >= folders_ || SzArEx_IsDir(&db, i)) continue;
    files_[next[folder]++] = i;
  }
  return true;
}

FolderFiles::List FolderFiles::of(UInt32 folder) const {
  List list;
  if (folder >= folders_) return list;
  list.data = files_.get() + starts_[folder];
  list.count = starts_[folder + 1] - starts_[folder];
  return list;
}

namespace {

// Main allocations carry their size in front, so that a release gives
// their bytes back to the budget.
constexpr size_t kSizePrefix = 16;

}  // namespace

TableBudget::TableBudget()
    : main_{{allocMain, freeMain}, this}, temporary_{{allocTemporary, freeTemporary}, this} {}

void* TableBudget::allocMain(ISzAllocPtr hook, size_t size) {
  TableBudget& self = *reinterpret_cast<const Hook*>(hook)->owner;
  if (size == 0) return nullptr;
  const size_t header = self.largestTemporary_;
  const size_t limit = header > (SIZE_MAX - kTableBase) / kTablesPerHeaderByte
                           ? SIZE_MAX
                           : kTableBase + kTablesPerHeaderByte * header;
  if (size > limit - kSizePrefix || self.used_ > limit - kSizePrefix - size) return nullptr;
  void* block = std::malloc(size + kSizePrefix);
  if (!block) return nullptr;
  *static_cast<size_t*>(block) = size;
  self.used_ += size + kSizePrefix;
  return static_cast<char*>(block) + kSizePrefix;
}

void TableBudget::freeMain(ISzAllocPtr hook, void* address) {
  if (!address) return;
  TableBudget& self = *reinterpret_cast<const Hook*>(hook)->owner;
  void* block = static_cast<char*>(address) - kSizePrefix;
  self.used_ -= *static_cast<size_t*>(block) + kSizePrefix;
  std::free(block);
}

void* TableBudget::allocTemporary(ISzAllocPtr hook, size_t size) {
  TableBudget& self = *reinterpret_cast<const Hook*>(hook)->owner;
  if (size == 0) return nullptr;
  void* block = std::malloc(size);
  if (block && size > self.largestTemporary_) self.largestTemporary_ = size;
  return block;
}

void TableBudget::freeTemporary(ISzAllocPtr, void* address) { std::free(address); }

Archive::Archive() { SzArEx_Init(&db_); }

Archive::~Archive() { SzArEx_Free(&db_, budget_.main()); }

int Archive::open(ILookInStreamPtr stream) {
  CrcGenerateTable();
  SzArEx_Free(&db_, budget_.main());
  const SRes result = SzArEx_Open(&db_, stream, budget_.main(), budget_.temporary());
  if (result != SZ_OK) SzArEx_Free(&db_, budget_.main());
  return result;
}

ArchiveEntry Archive::entry(uint32_t index) const {
  ArchiveEntry entry;
  // The length counts the terminating zero.
  const size_t length = SzArEx_GetFileNameUtf16(&db_, index, nullptr);
  size_t units = length > 0 ? length - 1 : 0;
  entry.nameIsCut = units > ArchiveEntry::kMaxNameUnits;
  if (entry.nameIsCut) units = ArchiveEntry::kMaxNameUnits;
  std::vector<UInt16> name(units + 1, 0);
  if (db_.FileNameOffsets) {
    const Byte* from = db_.FileNames + db_.FileNameOffsets[index] * 2;
    for (size_t i = 0; i < units; ++i) {
      name[i] = static_cast<UInt16>(from[2 * i] | (from[2 * i + 1] << 8));
    }
  }
  entry.name = utf16ToUtf8(name.data(), units);
  entry.isDirectory = SzArEx_IsDir(&db_, index);
  entry.hasAttributes = SzBitWithVals_Check(&db_.Attribs, index);
  if (entry.hasAttributes) entry.attributes = db_.Attribs.Vals[index];
  return entry;
}

}  // namespace kv
