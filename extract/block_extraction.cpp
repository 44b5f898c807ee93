#include "extract/block_extraction.h"

#include "extract/archive.h"
#include "extract/block_stream.h"
#include "extract/extract_archive.h"

namespace kv {

int extractBlock(std::FILE* file, uint32_t start, uint32_t end, const std::string& targetDir,
                 IProgress* progress) {
  BlockStream stream(file, start, end);
  return extractArchive(targetDir, progress, stream);
}

bool measureArchive(std::FILE* file, uint32_t start, uint32_t end, int& files, uint64_t& bytes) {
  BlockStream stream(file, start, end);
  Archive archive;
  if (archive.open(stream.lookStream()) != 0) return false;
  files = 0;
  bytes = 0;
  for (uint32_t i = 0; i < archive.entryCount(); ++i) {
    if (SzArEx_IsDir(&archive.database(), i)) continue;
    ++files;
    bytes += SzArEx_GetFileSize(&archive.database(), i);
  }
  return true;
}

}  // namespace kv
