// Processor count on POSIX systems.
#include <unistd.h>

#include "extract/threads.h"

namespace kv {

unsigned processorCount() {
  const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
  return count > 0 ? static_cast<unsigned>(count) : 1u;
}

}  // namespace kv
