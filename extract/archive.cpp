#include "extract/archive.h"

#include <cstdlib>
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

Archive::Archive() { SzArEx_Init(&db_); }

Archive::~Archive() { SzArEx_Free(&db_, heapAllocator()); }

int Archive::open(ILookInStreamPtr stream) {
  CrcGenerateTable();
  SzArEx_Free(&db_, heapAllocator());
  stream_ = stream;
  const SRes result = SzArEx_Open(&db_, stream, heapAllocator(), heapAllocator());
  if (result != SZ_OK) SzArEx_Free(&db_, heapAllocator());
  return result;
}

ArchiveEntry Archive::entry(uint32_t index) const {
  ArchiveEntry entry;
  // The length counts the terminating zero.
  const size_t length = SzArEx_GetFileNameUtf16(&db_, index, nullptr);
  std::vector<UInt16> name(length + 1, 0);
  SzArEx_GetFileNameUtf16(&db_, index, name.data());
  entry.name = utf16ToUtf8(name.data(), length > 0 ? length - 1 : 0);
  entry.isDirectory = SzArEx_IsDir(&db_, index);
  entry.hasAttributes = SzBitWithVals_Check(&db_.Attribs, index);
  if (entry.hasAttributes) entry.attributes = db_.Attribs.Vals[index];
  return entry;
}

}  // namespace kv
