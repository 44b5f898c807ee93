// TemporaryFolder: the temporary install folder of a run, removed on every
// way out of it: by remove() after the installer has ended, by the
// destructor on any earlier return, and by the interrupt cleanup of the
// platform (setInterruptCleanup) when a signal ends the run. One at a time
// per process.
#pragma once

#include <string>

namespace kv {

class TemporaryFolder {
 public:
  TemporaryFolder() = default;
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  ~TemporaryFolder() { remove(); }

  // From now on `path` is this run's to remove.
  void adopt(const std::string& path);

  // Removes the folder with all it holds. True when there was nothing
  // (left) to remove or it is gone now.
  bool remove();

 private:
  static void removeAfterInterrupt();

  std::string path_;
};

}  // namespace kv
