// kvextract: extracts a whole 7z archive, or a byte range of a file such as
// one block of a launcher bundle, into a directory, the way the launcher
// does. For tests and benchmarks.
//
//   kvextract ARCHIVE_OR_BUNDLE TARGETDIR [--block START END]
//
// Prints "result N" and exits with N, the extraction's result (0 success,
// decoder codes, 11 output-file failures); 100 for usage or input errors.
// With KV_DECODE_LOG=FILE in the environment, the decoding plan and the
// CPU time of every unit are appended to FILE (file_decode_log.h, read by
// bench/simulate.py).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/fs.h"
#include "extract/block_extraction.h"
#include "tools/kvextract/file_decode_log.h"

namespace {

constexpr int kUsageError = 100;

int usage() {
  std::fprintf(stderr, "usage: kvextract ARCHIVE_OR_BUNDLE TARGETDIR [--block START END]\n");
  return kUsageError;
}

bool parseOffset(const char* text, uint32_t* value) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text, &end, 0);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || parsed > 0xFFFFFFFFull) {
    return false;
  }
  *value = static_cast<uint32_t>(parsed);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 6) return usage();
  kv::FilePtr file = kv::openFile(argv[1], "rb");
  if (!file) {
    std::fprintf(stderr, "kvextract: cannot open %s: %s\n", argv[1], std::strerror(errno));
    return kUsageError;
  }
  uint32_t start = 0;
  uint32_t end = 0;
  if (argc == 6) {
    if (std::strcmp(argv[3], "--block") != 0 || !parseOffset(argv[4], &start) ||
        !parseOffset(argv[5], &end) || end < start) {
      return usage();
    }
  } else {
    if (kv::fs::seek(file.get(), 0, SEEK_END) != 0) return usage();
    const int64_t size = kv::fs::tell(file.get());
    if (size < 0 || size > 0xFFFFFFFFll) {
      std::fprintf(stderr, "kvextract: %s is larger than a block can be\n", argv[1]);
      return kUsageError;
    }
    end = static_cast<uint32_t>(size);
  }
  kv::FilePtr logFile;
  std::unique_ptr<kv::FileDecodeLog> log;
  if (const char* logPath = std::getenv("KV_DECODE_LOG")) {
    logFile = kv::openFile(logPath, "a");
    if (!logFile) {
      std::fprintf(stderr, "kvextract: cannot open %s: %s\n", logPath, std::strerror(errno));
      return kUsageError;
    }
    log.reset(new kv::FileDecodeLog(logFile.get()));
    kv::setDecodeLog(log.get());
  }
  const int result = kv::extractBlock(file.get(), start, end, argv[2], nullptr);
  kv::setDecodeLog(nullptr);
  std::printf("result %d\n", result);
  return result;
}
