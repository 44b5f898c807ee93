#include "extract/block_extraction.h"

#include "extract/block_stream.h"
#include "extract/extract_archive.h"

namespace kv {

int extractBlock(std::FILE* file, uint32_t start, uint32_t end, const std::string& targetDir,
                 IProgress* progress) {
  BlockStream stream(file, start, end);
  return extractArchive(targetDir, progress, stream);
}

int extractBlock(std::FILE* file, uint32_t start, uint32_t end, const std::string& targetDir,
                 IProgress* progress, std::string* failure) {
  BlockStream stream(file, start, end);
  failure->clear();
  return extractArchive(targetDir, progress, stream, failure);
}

bool measureArchive(std::FILE* file, uint32_t start, uint32_t end, int& files, uint64_t& bytes) {
  ArchiveListing listing;
  if (listArchive(file, start, end, &listing) != 0) return false;
  files = 0;
  bytes = 0;
  for (const ListedEntry& entry : listing.entries) {
    if (entry.isDirectory) continue;
    ++files;
    bytes += entry.size;
  }
  return true;
}

}  // namespace kv
