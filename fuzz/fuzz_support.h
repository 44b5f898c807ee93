// Shared pieces of the fuzz targets: a scratch folder per target that must
// be the only thing its runs ever write to, fuzz bytes as a read stream,
// the caps that keep one run small (file size, single allocations), and
// the release of the texts a run kept (fuzz_text_store.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/fs.h"

namespace kvfuzz {

// Aborts with a message (a finding) when `condition` is false.
#define KV_FUZZ_CHECK(condition)                                    \
  do {                                                              \
    if (!(condition)) kvfuzz::fail(__FILE__, __LINE__, #condition); \
  } while (0)
[[noreturn]] void fail(const char* file, int line, const char* what);

// Releases every text kept with keepText() since the last call.
void releaseKeptTexts();

// A private folder "<base>/target" for one fuzz target, made once per
// process in $TMPDIR, else /dev/shm, else /tmp, and left there for a look
// after a finding; target() is where runs may write. After each run, call
// checkAndClear(): it fails when anything appeared in <base> next to
// "target" (a write that escaped it) and empties "target" again.
class Scratch {
 public:
  explicit Scratch(const char* name);
  const std::string& base() const { return base_; }
  const std::string& target() const { return target_; }
  void checkAndClear();

 private:
  std::string base_;
  std::string target_;
};

// The bytes as a read-only, seekable stream (an empty one for size 0).
kv::FilePtr openBytes(const uint8_t* data, size_t size);

// Process-wide limits, set on the first call: files grow to 16 MB at most
// (a longer write fails with EFBIG), and standard output goes nowhere.
void limitProcess();

// Splits bytes at NUL into texts (the last one may be unterminated).
std::vector<std::string> splitTexts(const uint8_t* data, size_t size, char separator = '\0');

}  // namespace kvfuzz
