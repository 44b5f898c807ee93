// One progress bar across several archive extractions: each extraction's
// start/update is added to what the earlier ones reported, and their finish()
// is held back; the owner calls finish() on the window once, at the end.
// Byte counts are combined the same way for a window that takes them.
#pragma once

#include <cstdint>

#include "base/byte_progress.h"
#include "base/progress.h"

namespace kv {

class CombinedProgress : public IProgress, public IByteProgress {
 public:
  explicit CombinedProgress(IProgress* window)
      : window_(window), windowBytes_(dynamic_cast<IByteProgress*>(window)) {}

  void start(int total) override {
    doneBefore_ += lastDone_;
    lastDone_ = 0;
    totalBefore_ += lastTotal_;
    lastTotal_ = total;
    int shown = totalBefore_ + total;
    if (knownTotal_ > shown) shown = knownTotal_;
    if (window_) window_->start(shown);
  }
  void update(int done) override {
    lastDone_ = done;
    if (window_) window_->update(doneBefore_ + done);
  }
  void finish() override {}

  // The files of all the archives to come, when known beforehand: the bar
  // then runs once from 0 to this total instead of growing per archive.
  void setKnownTotal(int files) { knownTotal_ = files; }
  // The same for the bytes those files unpack to.
  void setKnownBytes(uint64_t bytes) { knownBytes_ = bytes; }

  void startBytes(uint64_t total) override {
    bytesDoneBefore_ += lastBytesDone_;
    lastBytesDone_ = 0;
    bytesTotalBefore_ += lastBytesTotal_;
    lastBytesTotal_ = total;
    if (!windowBytes_) return;
    uint64_t shown = bytesTotalBefore_ + total;
    if (knownBytes_ > shown) shown = knownBytes_;
    windowBytes_->startBytes(shown);
    if (bytesDoneBefore_ > 0) windowBytes_->updateBytes(bytesDoneBefore_);
  }
  void updateBytes(uint64_t done) override {
    lastBytesDone_ = done;
    if (windowBytes_) windowBytes_->updateBytes(bytesDoneBefore_ + done);
  }

 private:
  IProgress* window_;
  IByteProgress* windowBytes_;
  uint64_t knownBytes_ = 0;
  uint64_t bytesTotalBefore_ = 0;
  uint64_t lastBytesTotal_ = 0;
  uint64_t bytesDoneBefore_ = 0;
  uint64_t lastBytesDone_ = 0;
  int knownTotal_ = 0;
  int totalBefore_ = 0;
  int lastTotal_ = 0;
  int doneBefore_ = 0;
  int lastDone_ = 0;
};

}  // namespace kv
