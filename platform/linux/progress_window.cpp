#include "platform/linux/progress_window.h"

#include <pthread.h>
#include <unistd.h>

#include "core/platform.h"
#include "platform/linux/gtk_dialogs_common.h"

namespace kv {

namespace {

// GUI threads started and not yet out of their loop.
std::atomic<int> runningLoops{0};

gboolean keepOpen(GtkWidget*, void*, gpointer) { return true; }

void destroyAndQuit(GtkWidget* widget, gpointer) {
  gtkApi().gtk_widget_destroy(widget);
  gtkApi().gtk_main_quit();
}

}  // namespace

ProgressView progressView(int done, int total, uint64_t bytesDone, uint64_t bytesTotal) {
  ProgressView view;
  view.text = done >= 1
                  ? formatMessage("Preparing installer: extracted %d of %d files", done, total)
                  : std::string("Preparing installer...");
  view.fraction = 0.0;
  if (bytesTotal > 0) {
    view.pulse = false;
    view.fraction = bytesDone >= bytesTotal
                        ? 1.0
                        : static_cast<double>(bytesDone) / static_cast<double>(bytesTotal);
    return view;
  }
  view.pulse = total < 1;
  if (!view.pulse && done > 0) {
    // A count past the total (or a stale pair of values) keeps the bar full.
    view.fraction = done >= total ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
  }
  return view;
}

Progress::Progress() {
  const GtkApi& gtk = gtkApi();
  GtkWidget* window = gtk.gtk_window_new(GTK_WINDOW_TOPLEVEL);
  setUpLauncherWindow(window);
  connectSignal(window, "delete_event", signalHandler(keepOpen), nullptr);
  connectSignal(window, "destroy", signalHandler(destroyAndQuit), nullptr);

  // The text and the bar sit together in the middle of the window, not at
  // its top above an empty lower half.
  GtkWidget* frame = gtk.gtk_vbox_new(false, 0);
  gtk.gtk_container_add(asContainer(window), frame);
  GtkWidget* column = gtk.gtk_vbox_new(false, 10);
  gtk.gtk_box_pack_start(asBox(frame), column, true, false, 0);
  GtkWidget* row = gtk.gtk_hbox_new(false, 10);
  gtk.gtk_box_pack_start(asBox(column), row, false, true, 0);
  label_ = gtk.gtk_label_new("Preparing installer");
  gtk.gtk_label_set_justify(asLabel(label_), GTK_JUSTIFY_LEFT);
  gtk.gtk_box_pack_start(asBox(row), label_, false, false, 0);
  bar_ = gtk.gtk_progress_bar_new();
  gtk.gtk_box_pack_start(asBox(column), bar_, false, true, 0);
  window_.store(window);

  gtk.gtk_widget_show_all(window);
  gtk.g_timeout_add(100, refreshProgress, this);

  loopEnded_.store(false);
  ++runningLoops;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, runGuiLoop, this) != 0) {
    // Nobody would serve the window: take it down while this thread is
    // still the only one using GTK, and extract without it.
    --runningLoops;
    finished_.store(true);
    loopEnded_.store(true);
    window_.store(nullptr);
    gtk.gtk_widget_destroy(window);
    return;
  }
  pthread_detach(thread);
}

Progress::~Progress() {
  if (!finished_.load()) finish();
  // The timer and the idle callback hold this object until the loop ends.
  while (!loopEnded_.load()) usleep(1000);
}

void* Progress::runGuiLoop(void* data) {
  Progress* self = static_cast<Progress*>(data);
  gtkApi().gtk_main();
  self->loopEnded_.store(true);  // the last touch of the object
  --runningLoops;
  return nullptr;
}

void waitForProgressLoops() {
  while (runningLoops.load() > 0) usleep(1000);
}

void Progress::start(int total) { total_.store(total); }

void Progress::update(int done) { done_.store(done); }

void Progress::startBytes(uint64_t total) { bytesTotal_.store(total); }

void Progress::updateBytes(uint64_t done) { bytesDone_.store(done); }

void Progress::finish() {
  if (finished_.exchange(true)) return;  // queued once
  gtkApi().g_idle_add(closeProgress, this);
}

gboolean refreshProgress(gpointer data) {
  Progress* self = static_cast<Progress*>(data);
  if (self->finished_.load()) return false;
  const GtkApi& gtk = gtkApi();
  ProgressView view = progressView(self->done_.load(), self->total_.load(), self->bytesDone_.load(),
                                   self->bytesTotal_.load());
  gtk.gtk_label_set_text(asLabel(self->label_), view.text.c_str());
  if (view.pulse) {
    gtk.gtk_progress_bar_pulse(asProgressBar(self->bar_));
  } else {
    gtk.gtk_progress_bar_set_fraction(asProgressBar(self->bar_), view.fraction);
  }
  return true;
}

gboolean closeProgress(gpointer data) {
  Progress* self = static_cast<Progress*>(data);
  if (GtkWidget* window = self->window_.exchange(nullptr)) {
    gtkApi().g_signal_emit_by_name(asObject(window), "destroy");
  }
  return false;
}

IProgress* createProgress() { return new Progress(); }

}  // namespace kv
