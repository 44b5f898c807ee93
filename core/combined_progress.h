// One progress bar across several archive extractions: each extraction's
// start/update is added to what the earlier ones reported, and their finish()
// is held back; the owner calls finish() on the window once, at the end.
#pragma once

#include "core/progress.h"

namespace kv {

class CombinedProgress : public IProgress {
 public:
  explicit CombinedProgress(IProgress* window) : window_(window) {}

  void start(int total) override {
    doneBefore_ += lastDone_;
    lastDone_ = 0;
    totalBefore_ += lastTotal_;
    lastTotal_ = total;
    if (window_) window_->start(totalBefore_ + total);
  }
  void update(int done) override {
    lastDone_ = done;
    if (window_) window_->update(doneBefore_ + done);
  }
  void finish() override {}

 private:
  IProgress* window_;
  int totalBefore_ = 0;
  int lastTotal_ = 0;
  int doneBefore_ = 0;
  int lastDone_ = 0;
};

}  // namespace kv
