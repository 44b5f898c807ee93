#include "platform/linux/progress_window.h"

#include <gtest/gtest.h>

namespace kv {
namespace {

TEST(ProgressViewTest, PulsesUntilCountsArrive) {
  ProgressView view = progressView(0, 0);
  EXPECT_EQ("Preparing installer...", view.text);
  EXPECT_TRUE(view.pulse);
  // A total alone fills nothing yet but already stops the pulsing.
  view = progressView(0, 12);
  EXPECT_EQ("Preparing installer...", view.text);
  EXPECT_FALSE(view.pulse);
  EXPECT_DOUBLE_EQ(0.0, view.fraction);
}

TEST(ProgressViewTest, CountsFillTheBarInProportion) {
  ProgressView view = progressView(5, 10);
  EXPECT_EQ("Preparing installer: extracted 5 of 10 files", view.text);
  EXPECT_FALSE(view.pulse);
  EXPECT_DOUBLE_EQ(0.5, view.fraction);
  EXPECT_DOUBLE_EQ(1.0, progressView(10, 10).fraction);
}

TEST(ProgressViewTest, DoneWithoutATotalShowsTheCountAndPulses) {
  ProgressView view = progressView(3, 0);
  EXPECT_EQ("Preparing installer: extracted 3 of 0 files", view.text);
  EXPECT_TRUE(view.pulse);
}

TEST(ProgressViewTest, BytesMoveTheBarWhileTheTextCountsFiles) {
  // One large file being written: no file is done yet, the bar moves.
  ProgressView view = progressView(0, 4, 300, 1000);
  EXPECT_EQ("Preparing installer...", view.text);
  EXPECT_FALSE(view.pulse);
  EXPECT_DOUBLE_EQ(0.3, view.fraction);
  view = progressView(3, 4, 750, 1000);
  EXPECT_EQ("Preparing installer: extracted 3 of 4 files", view.text);
  EXPECT_DOUBLE_EQ(0.75, view.fraction);
  EXPECT_DOUBLE_EQ(1.0, progressView(4, 4, 1200, 1000).fraction);
}

TEST(ProgressViewTest, ACountPastTheTotalKeepsTheBarFull) {
  // The counters are read one after the other; a stale total may be lower.
  EXPECT_DOUBLE_EQ(1.0, progressView(12, 10).fraction);
  EXPECT_TRUE(progressView(7, -1).pulse);
}

}  // namespace
}  // namespace kv
