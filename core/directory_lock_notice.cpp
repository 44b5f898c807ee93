// The line a launcher prints while it waits for another one to finish
// extracting into the same install directory.
#include <cstdio>

#include "base/fs.h"

namespace kv {
namespace fs {

void DirectoryLock::announceWait(const std::string& directory) {
  std::fflush(stdout);
  std::fprintf(stderr, "Waiting for another setup to finish in %s...\n", directory.c_str());
  std::fflush(stderr);
}

}  // namespace fs
}  // namespace kv
