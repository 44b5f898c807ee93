#include "extract/decode_schedule.h"

namespace kv {

UInt64 memoryCeiling(UInt64 physical, bool narrow) {
  const UInt64 quarter = physical / 4;
  return narrow && quarter > kNarrowCeiling ? kNarrowCeiling : quarter;
}

MemoryRule memoryRule(unsigned processors, UInt64 unitNeed, UInt64 ceiling) {
  if (processors < 1) processors = 1;
  UInt64 parallel = processors;
  if (unitNeed > 0) {
    const UInt64 fits = ceiling > kSlack ? (ceiling - kSlack) / unitNeed : 0;
    if (fits < parallel) parallel = fits;
  }
  if (parallel < 1) parallel = 1;  // one unit decodes whatever it needs
  return {static_cast<unsigned>(parallel), parallel * unitNeed + kSlack};
}

DecodeSchedule::DecodeSchedule(std::vector<DecodeUnit> units,
                               const std::vector<UInt64>& folderBytes, unsigned processors,
                               UInt64 ceiling)
    : units_(std::move(units)),
      sentParts_(folderBytes.size(), 0),
      dropped_(folderBytes.size(), false),
      held_(units_.size(), 0),
      ahead_(processors > 1) {
  size_t longest = 0;
  for (size_t f = 1; f < folderBytes.size(); ++f) {
    if (folderBytes[f] > folderBytes[longest]) longest = f;
  }
  UInt64 unitNeed = 0;
  for (size_t u = 0; u < units_.size(); ++u) {
    const DecodeUnit& unit = units_[u];
    if (unit.folder == longest) order_.push_back(u);
    UInt64 need = unit.streamNeed;
    if (ahead_ && unit.bufferNeed > need) need = unit.bufferNeed;
    if (need > unitNeed) unitNeed = need;
  }
  for (size_t u = 0; u < units_.size(); ++u) {
    if (units_[u].folder != longest) order_.push_back(u);
  }
  rule_ = memoryRule(processors, unitNeed, ceiling);
}

DecodeSchedule::Take DecodeSchedule::take(size_t* unit, bool* streaming) {
  while (next_ < order_.size() && dropped_[units_[order_[next_]].folder]) ++next_;
  if (next_ >= order_.size()) return Take::kDone;
  const size_t position = order_[next_];
  const DecodeUnit& candidate = units_[position];
  const bool inTurn = sentParts_[candidate.folder] == candidate.part;
  if (!inTurn && (!ahead_ || candidate.bufferNeed == 0)) return Take::kWait;
  const UInt64 need = inTurn ? candidate.streamNeed : candidate.bufferNeed;
  if (inUse_ > 0 && inUse_ + need > rule_.budget) return Take::kWait;
  inUse_ += need;
  if (inUse_ > peak_) peak_ = inUse_;
  held_[position] = need;
  ++running_;
  ++next_;
  *unit = position;
  *streaming = inTurn;
  return Take::kUnit;
}

void DecodeSchedule::sent(size_t unit) {
  inUse_ -= held_[unit];
  held_[unit] = 0;
  --running_;
  const DecodeUnit& done = units_[unit];
  if (done.part + 1 > sentParts_[done.folder]) sentParts_[done.folder] = done.part + 1;
}

void DecodeSchedule::dropFolder(size_t folder) { dropped_[folder] = true; }

}  // namespace kv
