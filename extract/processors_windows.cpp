// Processor count on Windows.
#include <windows.h>

#include "extract/threads.h"

namespace kv {

unsigned processorCount() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<unsigned>(info.dwNumberOfProcessors) : 1u;
}

}  // namespace kv
