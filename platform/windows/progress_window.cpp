// The progress window (template 101) on a UI thread of its own: a text and a
// bar that runs a busy animation (0, 4, ..., 100, every 500 ms) until real
// counts arrive. The text counts files; the bar follows the bytes written
// when their total is known (a large file then moves it too), else the
// files. The main thread talks to it only through sent messages,
// which return once the UI thread has handled them. The window has no close
// box and ignores close requests; it goes with the process.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "base/byte_progress.h"
#include "base/progress.h"
#include "core/platform.h"
#include "platform/windows/logo_icon.h"
#include "platform/windows/resource_ids.h"
#include "platform/windows/system_library.h"
#include "platform/windows/wide_text.h"

namespace kv {

namespace {

constexpr UINT_PTR kAnimationTimer = 0;
constexpr UINT kAnimationInterval = 500;  // milliseconds
constexpr int kAnimationStep = 4;
constexpr int kBarMaximum = 100;

// The bar's position (0 to 100) for `done` of `total` units; full once
// `done` reaches the total.
int barPosition(uint64_t done, uint64_t total) {
  if (total == 0 || done >= total) return kBarMaximum;
  return static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * kBarMaximum);
}

class Progress : public IProgress, public IByteProgress {
 public:
  Progress() : instance_(GetModuleHandleW(nullptr)) {}

  // Shows the window on a new thread; returns once it is on screen.
  bool show();

  void start(int total) override;
  void update(int done) override;
  void finish() override;
  void startBytes(uint64_t total) override;
  void updateBytes(uint64_t done) override;

  // One step of the busy animation (UI thread).
  void animate();

 private:
  static DWORD WINAPI uiThread(LPVOID self);
  void setText(const char* text) const;
  // Stops the busy animation for good and shows `position` (main thread).
  void showPosition(int position);

  HINSTANCE instance_;
  HANDLE ready_ = nullptr;
  HWND window_ = nullptr;
  // The next animation position; -1 once a real count has been shown. The
  // UI thread's timer and the main thread's update() both write it.
  std::atomic<int> animationPosition_{0};
  int total_ = 0;
  // The bytes of every file to extract; 0 until known. Main thread only,
  // as is the position last shown.
  uint64_t bytesTotal_ = 0;
  int shownPosition_ = -1;
};

// The one progress window's object, for its dialog procedure.
std::atomic<Progress*> shownProgress{nullptr};

// Registers the common control classes (the progress bar) from comctl32 of
// the system folder.
void initCommonControls() {
  using InitCommonControlsFn = void(WINAPI*)();
  auto init = systemProcedure<InitCommonControlsFn>(loadSystemLibrary("comctl32.dll"),
                                                    "InitCommonControls");
  if (init) init();
}

INT_PTR CALLBACK progressDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      shownProgress = reinterpret_cast<Progress*>(lParam);
      SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(logoIcon()));
      SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(logoIcon()));
      SetTimer(dialog, kAnimationTimer, kAnimationInterval, nullptr);
      return TRUE;
    case WM_TIMER:
      if (Progress* progress = shownProgress.load()) progress->animate();
      SetTimer(dialog, kAnimationTimer, kAnimationInterval, nullptr);
      return TRUE;
    case WM_COMMAND:
      if (wParam == IDCANCEL) PostMessageW(dialog, WM_CLOSE, 0, 0);
      return wParam == IDCANCEL;
    case WM_CLOSE:
      return TRUE;  // the window is not closed by the user
    default:
      return FALSE;
  }
}

bool Progress::show() {
  ready_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!ready_) return false;
  HANDLE thread = CreateThread(nullptr, 0, &Progress::uiThread, this, 0, nullptr);
  if (!thread) return false;
  CloseHandle(thread);  // the thread runs until the process ends
  WaitForSingleObject(ready_, INFINITE);
  return window_ != nullptr;
}

DWORD WINAPI Progress::uiThread(LPVOID self) {
  Progress* progress = static_cast<Progress*>(self);
  initCommonControls();
  HWND window =
      CreateDialogParamW(progress->instance_, MAKEINTRESOURCEW(KV_DIALOG_PROGRESS), nullptr,
                         progressDialogProcedure, reinterpret_cast<LPARAM>(progress));
  progress->window_ = window;
  if (window) ShowWindow(window, SW_SHOW);
  SetEvent(progress->ready_);
  if (!window) return 1;
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (!IsDialogMessageW(window, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return 0;
}

void Progress::animate() {
  int position = animationPosition_.load();
  if (position < 0) return;
  SendDlgItemMessageW(window_, KV_ID_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  int next = position + kAnimationStep;
  if (next > kBarMaximum) next = 0;
  // Left alone when update() has stopped the animation meanwhile.
  animationPosition_.compare_exchange_strong(position, next);
}

void Progress::setText(const char* text) const {
  SendDlgItemMessageW(window_, KV_ID_PROGRESS_TEXT, WM_SETTEXT, 0,
                      reinterpret_cast<LPARAM>(widen(text).c_str()));
}

void Progress::start(int total) {
  total_ = total;
  char text[1024];
  std::snprintf(text, sizeof text, "Preparing installer: uncompressing %d files", total);
  setText(text);
}

void Progress::update(int done) {
  animationPosition_ = -1;  // the busy animation stops for good
  char text[1024];
  std::snprintf(text, sizeof text, "Preparing installer: extracted %d of %d files", done, total_);
  setText(text);
  // With a byte total the bytes move the bar, file by file or not.
  if (bytesTotal_ == 0 && total_ > 0) {
    showPosition(barPosition(done > 0 ? done : 0, total_));
  }
}

void Progress::startBytes(uint64_t total) {
  bytesTotal_ = total;
  // The first archive's empties the bar; a later one's keeps what is shown.
  if (total > 0 && shownPosition_ < 0) showPosition(0);
}

void Progress::updateBytes(uint64_t done) {
  if (bytesTotal_ > 0) showPosition(barPosition(done, bytesTotal_));
}

void Progress::showPosition(int position) {
  animationPosition_ = -1;
  // One sent message per step of the bar, not per piece written.
  if (position == shownPosition_) return;
  shownPosition_ = position;
  SendDlgItemMessageW(window_, KV_ID_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void Progress::finish() {
  // The dialog ignores the request: the window keeps its last text and bar
  // until the launcher ends.
  SendMessageW(window_, WM_CLOSE, 0, 0);
}

// Stands in when the window cannot be shown: the extraction goes on.
class NoProgress : public IProgress {
 public:
  void start(int) override {}
  void update(int) override {}
  void finish() override {}
};

}  // namespace

IProgress* createProgress() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Progress* progress = new Progress;  // lives until the process ends
  if (progress->show()) return progress;
  static NoProgress none;
  return &none;
}

}  // namespace kv
