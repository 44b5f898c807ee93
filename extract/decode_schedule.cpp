#include "extract/decode_schedule.h"

#include <algorithm>
#include <map>

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

std::vector<size_t> costOrder(const std::vector<DecodeUnit>& units) {
  std::vector<size_t> order(units.size());
  for (size_t u = 0; u < order.size(); ++u) order[u] = u;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return unitCost(units[a]) > unitCost(units[b]); });
  // Every folder's places, in hand-out order, go to its units in part order.
  std::map<size_t, std::vector<size_t>> parts;  // folder -> unit positions by part
  for (size_t u = 0; u < units.size(); ++u) parts[units[u].folder].push_back(u);
  for (auto& folder : parts) {
    std::stable_sort(folder.second.begin(), folder.second.end(),
                     [&](size_t a, size_t b) { return units[a].part < units[b].part; });
  }
  std::map<size_t, size_t> given;  // folder -> units placed so far
  for (size_t& place : order) {
    const size_t folder = units[place].folder;
    place = parts[folder][given[folder]++];
  }
  return order;
}

DecodeSchedule::DecodeSchedule(std::vector<DecodeUnit> units, size_t folders, unsigned processors,
                               UInt64 ceiling)
    : units_(std::move(units)),
      sentParts_(folders, 0),
      dropped_(folders, false),
      held_(units_.size(), 0),
      ahead_(processors > 1) {
  UInt64 unitNeed = 0;
  for (size_t u = 0; u < units_.size(); ++u) {
    const DecodeUnit& unit = units_[u];
    UInt64 need = unit.streamNeed;
    if (ahead_ && unit.bufferNeed > need) need = unit.bufferNeed;
    if (need > unitNeed) unitNeed = need;
  }
  order_ = costOrder(units_);
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
