#include "core/console_progress.h"

#include "core/platform.h"

namespace kv {

namespace {

constexpr uint64_t kMegabyte = 1000 * 1000;

}  // namespace

void ConsoleProgress::startBytes(uint64_t total) { total_ = total; }

void ConsoleProgress::updateBytes(uint64_t done) {
  if (total_ == 0) return;
  if (done >= total_) {
    wipe();
    return;
  }
  const int percent = static_cast<int>(done * 100 / total_);
  if (percent == shown_) return;
  shown_ = percent;
  std::fprintf(out_, "\rExtracting: %d%% (%llu of %llu MB)", percent,
               static_cast<unsigned long long>(done / kMegabyte),
               static_cast<unsigned long long>((total_ + kMegabyte - 1) / kMegabyte));
  std::fflush(out_);
}

void ConsoleProgress::wipe() {
  if (shown_ < 0) return;
  std::fprintf(out_, "\r%40s\r", "");
  std::fflush(out_);
  shown_ = -1;
}

ConsoleProgress* consoleProgress() {
  if (!standardOutputIsTerminal()) return nullptr;
  static ConsoleProgress progress(stderr);
  return &progress;
}

}  // namespace kv
