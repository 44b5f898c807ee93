#include "extract/archive_file_count.h"

#include "extract/archive.h"
#include "extract/block_stream.h"

namespace kv {

int countArchiveFiles(std::FILE* file, uint32_t start, uint32_t end) {
  BlockStream stream(file, start, end);
  Archive archive;
  if (archive.open(stream.lookStream()) != 0) return -1;
  int files = 0;
  for (uint32_t i = 0; i < archive.entryCount(); ++i) {
    if (!SzArEx_IsDir(&archive.database(), i)) ++files;
  }
  return files;
}

}  // namespace kv
