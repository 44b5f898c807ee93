// ConsoleProgress: the one-line progress indicator of a console run on a
// terminal, on standard error: "Extracting: 45% (141 of 315 MB)", redrawn
// in place when the percentage changes and wiped when the bytes of an
// archive are all written (before the next line of standard output) and
// at finish(). consoleProgress() gives it only when standard output is a
// terminal; piped or redirected runs get none and print nothing extra.
#pragma once

#include <cstdint>
#include <cstdio>

#include "base/byte_progress.h"
#include "base/progress.h"

namespace kv {

class ConsoleProgress final : public IProgress, public IByteProgress {
 public:
  explicit ConsoleProgress(std::FILE* out) : out_(out) {}

  void start(int) override {}
  void update(int) override {}
  void finish() override { wipe(); }
  void startBytes(uint64_t total) override;
  void updateBytes(uint64_t done) override;

 private:
  void wipe();

  std::FILE* out_;
  uint64_t total_ = 0;
  int shown_ = -1;  // percentage on screen, -1 for none
};

// The indicator when standard output is a terminal, else null.
ConsoleProgress* consoleProgress();

}  // namespace kv
