// IByteProgress: an optional extension of a progress sink for long
// extractions. A sink that also derives from IByteProgress hears, besides
// the file counts of IProgress, startBytes(total) once the archive is open
// (the bytes of all its files) and updateBytes(done) as the written bytes
// grow. Called on the extracting thread only, like IProgress.
#pragma once

#include <cstdint>

namespace kv {

class IByteProgress {
 public:
  virtual void startBytes(uint64_t total) = 0;
  virtual void updateBytes(uint64_t done) = 0;

 protected:
  ~IByteProgress() = default;
};

}  // namespace kv
