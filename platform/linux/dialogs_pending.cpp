// Stand-ins for the GTK location dialog and progress window until those
// exist: no dialog (as if cancelled), and a progress sink that shows nothing.
#include <cstdio>

#include "core/platform.h"
#include "core/progress.h"

namespace kv {

namespace {

class SilentProgress final : public IProgress {
 public:
  void start(int) override {}
  void update(int) override {}
  void finish() override {}
};

}  // namespace

std::optional<std::string> selectLocation(const std::optional<std::string>&, const char*, bool,
                                          const LocationValidator&) {
  std::fputs("Dialog mode is not available yet.\n", stderr);
  return std::nullopt;
}

IProgress* createProgress() {
  static SilentProgress progress;
  return &progress;
}

}  // namespace kv
