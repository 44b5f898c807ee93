#include "core/temporary_folder.h"

#include <atomic>

#include "core/platform.h"

namespace kv {

namespace {

// The folder the interrupt cleanup removes. It runs while the main thread,
// which owns the folder, is stopped, so it may read the object.
std::atomic<TemporaryFolder*> interruptible{nullptr};

}  // namespace

void TemporaryFolder::adopt(const std::string& path) {
  remove();
  path_ = path;
  if (path_.empty()) return;
  interruptible.store(this);
  setInterruptCleanup(&TemporaryFolder::removeAfterInterrupt);
}

bool TemporaryFolder::remove() {
  if (path_.empty()) return true;
  // The path stays known until the removal is over: an interruption in the
  // middle of it removes what is left.
  const bool removed = deleteFolderTree(path_);
  setInterruptCleanup(nullptr);
  interruptible.store(nullptr);
  path_.clear();
  return removed;
}

void TemporaryFolder::removeAfterInterrupt() {
  if (TemporaryFolder* folder = interruptible.load()) {
    if (!folder->path_.empty()) deleteFolderTree(folder->path_);
  }
}

}  // namespace kv
