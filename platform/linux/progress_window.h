// Progress: the GTK progress window "Extract Installer" that an extraction
// reports to. createProgress() (core/platform.h) builds it on the main
// thread and hands it to one GUI thread of its own, which runs gtk_main and
// redraws every 100 ms from the counters; from then on only that thread
// calls GTK. start/update/finish run on the extracting thread and only
// write the atomic counters (finish also queues the close on the GUI loop),
// so the extraction never waits for the window. The user cannot close it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/byte_progress.h"
#include "base/progress.h"
#include "platform/linux/gtk_types.h"

namespace kv {

// What one tick shows for the counters. The text counts files; the bar
// follows the bytes written when their total is known (a large file then
// moves it too), else the files.
struct ProgressView {
  std::string text;
  bool pulse;       // move the activity block one step
  double fraction;  // otherwise: how full the bar is
};
ProgressView progressView(int done, int total, uint64_t bytesDone = 0, uint64_t bytesTotal = 0);

class Progress final : public IProgress, public IByteProgress {
 public:
  // Builds and shows the window, arms the timer, starts the GUI thread.
  Progress();
  // Closes a window that is still open, on the GUI thread, and returns once
  // that thread has left its loop. Never call it from the GUI thread.
  virtual ~Progress();

  void start(int total) override;
  void update(int done) override;
  void finish() override;
  void startBytes(uint64_t total) override;
  void updateBytes(uint64_t done) override;

 private:
  friend gboolean refreshProgress(gpointer progress);
  friend gboolean closeProgress(gpointer progress);
  static void* runGuiLoop(void* progress);

  std::atomic<GtkWidget*> window_{nullptr};
  GtkWidget* label_ = nullptr;
  GtkWidget* bar_ = nullptr;
  std::atomic<int> done_{0};
  std::atomic<int> total_{0};
  std::atomic<uint64_t> bytesDone_{0};
  std::atomic<uint64_t> bytesTotal_{0};
  std::atomic<bool> finished_{false};
  std::atomic<bool> loopEnded_{true};  // no GUI thread in its loop
};

// Returns once no progress window's thread is in its GTK loop any more, so
// that the calling thread may use GTK again (after finish()).
void waitForProgressLoops();

// The 100 ms timer on the GUI thread: redraws from the counters; false
// (timer removed, nothing drawn) once finish() was called.
gboolean refreshProgress(gpointer progress);

// The idle callback that finish() queues: closes the window, which ends
// the GUI thread's loop. Runs once.
gboolean closeProgress(gpointer progress);

}  // namespace kv
