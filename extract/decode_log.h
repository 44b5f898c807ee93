// DecodeLog: the benchmark's view of an extraction, which bench/simulate.py
// replays: the plan of decoding units, the CPU time each unit took to
// decode and to have its files written, and the placing thread's. Only the
// benchmark's tool (kvextract) sets one; everywhere else it is null and
// costs a load per unit. Not part of the extraction's face
// (block_extraction.h), and free of the decoder's types.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv {

struct LoggedUnit {
  size_t position = 0;  // among the units, as decoded() and written() name it
  size_t folder = 0;
  unsigned part = 0;
  unsigned parts = 1;
  uint64_t unpackSize = 0;
  uint64_t packSize = 0;
  uint32_t files = 0;
  uint64_t streamNeed = 0;
  uint64_t bufferNeed = 0;
};

class DecodeLog {
 public:
  virtual void plan(unsigned processors, unsigned parallel, uint64_t budget, uint64_t ceiling) = 0;
  // After plan(), in hand-out order.
  virtual void unit(const LoggedUnit& unit) = 0;
  // From the decoding threads, several at once: a unit's decoding CPU time
  // (`ahead`: into a buffer), and the CPU time its bytes took to write (with
  // more than one processor: to hand to the folder's writing thread).
  virtual void decoded(size_t unit, bool ahead, double cpuSeconds) = 0;
  virtual void written(size_t unit, double cpuSeconds) = 0;
  // At the end: the CPU time of the thread that put the files in place,
  // and the peak of the memory the schedule accounted.
  virtual void placed(double cpuSeconds) = 0;
  virtual void peak(uint64_t bytes) = 0;

 protected:
  ~DecodeLog() = default;
};

// The log every extraction reports to from now on; null for none.
void setDecodeLog(DecodeLog* log);
DecodeLog* decodeLog();

}  // namespace kv
