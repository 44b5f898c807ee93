// DecodeSchedule: which piece of work an idle decoding thread takes next,
// and the memory rule that bounds how many are decoded at once. Pure
// bookkeeping without threads or timing: DecodeWorkers calls it under its
// lock, the unit tests and the benchmark's simulation replay it.
//
// A unit is a folder, or a run of independent LZMA2 blocks of one folder
// (a block starts with a dictionary reset, so it decodes without what came
// before it). Units are handed out by their estimated decode time, the
// slowest first, so that no long unit ends the run alone on one
// processor: the estimate is the packed bytes the unit reads (decoding
// time follows the compressed bytes far more than the unpacked ones) and
// kFileCost for every file that starts in it (a folder's files are written
// in order, so a folder of many small files is a long chain of writing).
// Each folder's units keep their stream order: they take the places in
// the hand-out order that their costs earned, in turn (costOrder).
//
// A unit whose folder's earlier bytes have all gone to the writer streams
// straight to it, holding only its dictionary (`streamNeed`). A later unit
// of a folder decodes ahead into a buffer of its whole size (`bufferNeed`)
// that waits for its turn; a unit without a buffer size (too large to hold)
// waits in the queue until it may stream.
//
// The memory rule: N = the number of units decoding at once, at most the
// processors, and at most what fits the memory ceiling (a quarter of the
// physical memory, never more than 256 MiB in a 32-bit process); the
// budget is N x the largest need of a unit plus kSlack. With one processor
// every unit streams and the budget is the largest dictionary plus kSlack.
// A unit is admitted while the needs of the units holding memory, its own
// included, stay within the budget, or when no other unit holds any.
#pragma once

#include <cstddef>
#include <vector>

#include "7zTypes.h"

namespace kv {

struct DecodeUnit {
  size_t folder = 0;  // position in the caller's folder list
  unsigned part = 0;  // 0 for the folder's first unit
  unsigned parts = 1;
  UInt64 unpackOffset = 0;  // in the folder's main coder output
  UInt64 unpackSize = 0;
  UInt64 packOffset = 0;  // in the folder's first packed stream
  UInt64 packSize = 0;    // packed bytes read; all of the folder's for a whole folder
  UInt32 files = 0;       // file entries whose bytes start in the unit
  UInt64 streamNeed = 0;
  UInt64 bufferNeed = 0;  // 0: never decoded ahead
};

struct MemoryRule {
  unsigned parallel;  // N
  UInt64 budget;
};

constexpr UInt64 kSlack = 10u << 20;
// What writing one file costs, in packed bytes decoded in the same time.
constexpr UInt64 kFileCost = 4096;
constexpr UInt64 kNarrowCeiling = 256u << 20;

// A quarter of `physical`, at most kNarrowCeiling when `narrow` (32-bit).
UInt64 memoryCeiling(UInt64 physical, bool narrow);
MemoryRule memoryRule(unsigned processors, UInt64 unitNeed, UInt64 ceiling);

// The estimated decode and write time of a unit, in packed bytes.
inline UInt64 unitCost(const DecodeUnit& unit) { return unit.packSize + unit.files * kFileCost; }

// Unit positions in hand-out order: by unitCost, largest first (ties in
// the given order), each folder's units in part order.
std::vector<size_t> costOrder(const std::vector<DecodeUnit>& units);

class DecodeSchedule {
 public:
  // `units` in stream order per folder, folders in any order, with folder
  // positions below `folders`.
  DecodeSchedule(std::vector<DecodeUnit> units, size_t folders, unsigned processors,
                 UInt64 ceiling);

  enum class Take { kUnit, kWait, kDone };
  // kUnit: *unit (its position in units()) may start now; *streaming tells
  // whether it goes straight to the writer. kWait: the next unit waits for
  // memory or for its turn. kDone: everything was handed out.
  Take take(size_t* unit, bool* streaming);
  // The unit's bytes are with the writer, or were dropped: its memory is
  // free and the folder's next unit may stream.
  void sent(size_t unit);
  // The folder's remaining units are not wanted: they are handed out no
  // more (units already out still report sent()).
  void dropFolder(size_t folder);

  // How many of the folder's units went to the writer so far.
  unsigned sentParts(size_t folder) const { return sentParts_[folder]; }
  const std::vector<DecodeUnit>& units() const { return units_; }
  // Unit positions in hand-out order.
  const std::vector<size_t>& order() const { return order_; }
  const MemoryRule& rule() const { return rule_; }
  UInt64 inUse() const { return inUse_; }
  UInt64 peak() const { return peak_; }
  unsigned running() const { return running_; }

 private:
  std::vector<DecodeUnit> units_;
  std::vector<size_t> order_;        // unit positions in hand-out order
  std::vector<unsigned> sentParts_;  // per folder position
  std::vector<bool> dropped_;
  std::vector<UInt64> held_;  // per unit: the memory it holds
  size_t next_ = 0;
  MemoryRule rule_{1, 0};
  UInt64 inUse_ = 0;
  UInt64 peak_ = 0;
  unsigned running_ = 0;
  bool ahead_ = false;  // units may decode ahead
};

}  // namespace kv
