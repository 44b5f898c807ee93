#include "extract/decode_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace kv {
namespace {

constexpr UInt64 kMiB = 1 << 20;

TEST(DecodeScheduleTest, MemoryRuleScalesWithProcessorsUpToTheCeiling) {
  EXPECT_EQ(memoryCeiling(8192 * kMiB, false), 2048 * kMiB);
  EXPECT_EQ(memoryCeiling(8192 * kMiB, true), kNarrowCeiling);
  EXPECT_EQ(memoryCeiling(512 * kMiB, true), 128 * kMiB);
  const struct {
    unsigned processors;
    UInt64 need, ceiling;
    unsigned parallel;
  } cases[] = {
      {1, 4 * kMiB, 2048 * kMiB, 1},  // one processor: as with one folder
      {2, 4 * kMiB, 2048 * kMiB, 2},    {16, 4 * kMiB, 2048 * kMiB, 16},
      {16, 64 * kMiB, 256 * kMiB, 3},    // a 32-bit process
      {16, 1024 * kMiB, 256 * kMiB, 1},  // larger than the ceiling: still one
      {16, 0, 256 * kMiB, 16},           // stored folders need no dictionary
  };
  for (const auto& c : cases) {
    const MemoryRule rule = memoryRule(c.processors, c.need, c.ceiling);
    EXPECT_EQ(rule.parallel, c.parallel) << c.processors << " " << c.need;
    EXPECT_EQ(rule.budget, c.parallel * c.need + kSlack) << c.processors << " " << c.need;
  }
}

// Folder 0: 8 MiB; folder 1: 32 MiB in eight independent blocks; folders
// 2..9: 16 MiB each. Every dictionary and block is 4 MiB. Packed: half of
// the bytes, a quarter for folders 2..9, but the blocks of folder 1 pack
// to 3 MiB (barely compressible data, slowest to decode).
std::vector<DecodeUnit> syntheticUnits() {
  std::vector<DecodeUnit> units;
  for (size_t f = 0; f < 10; ++f) {
    const unsigned parts = f == 1 ? 8 : 1;
    const UInt64 bytes = f == 0 ? 8 * kMiB : f == 1 ? 32 * kMiB : 16 * kMiB;
    for (unsigned p = 0; p < parts; ++p) {
      DecodeUnit unit;
      unit.folder = f;
      unit.part = p;
      unit.parts = parts;
      unit.unpackSize = parts > 1 ? 4 * kMiB : bytes;
      unit.packSize = f == 0 ? 4 * kMiB : f == 1 ? 3 * kMiB : 4 * kMiB;
      unit.streamNeed = 4 * kMiB;
      unit.bufferNeed = parts > 1 ? 4 * kMiB : 0;
      units.push_back(unit);
    }
  }
  return units;
}

// Replays the schedule with one worker per processor, every unit taking
// one step; a unit decoded ahead is sent once the one before it was.
struct Replay {
  unsigned mostRunning = 0;
  unsigned ahead = 0;
  std::vector<size_t> handedOut;
};

Replay replay(DecodeSchedule& schedule, unsigned processors) {
  Replay result;
  std::vector<size_t> running;
  std::vector<size_t> waiting;  // decoded ahead
  for (int step = 0; step < 1000; ++step) {
    size_t unit = 0;
    bool streaming = false;
    DecodeSchedule::Take take = DecodeSchedule::Take::kWait;
    while (running.size() < processors &&
           (take = schedule.take(&unit, &streaming)) == DecodeSchedule::Take::kUnit) {
      running.push_back(unit);
      result.handedOut.push_back(unit);
      if (!streaming) ++result.ahead;
      EXPECT_LE(schedule.inUse(), schedule.rule().budget);
    }
    result.mostRunning = std::max(result.mostRunning, static_cast<unsigned>(running.size()));
    if (running.empty() && waiting.empty()) {
      EXPECT_EQ(take, DecodeSchedule::Take::kDone);
      break;
    }
    waiting.insert(waiting.end(), running.begin(), running.end());
    running.clear();
    for (bool progress = true; progress;) {
      progress = false;
      for (size_t i = 0; i < waiting.size(); ++i) {
        const DecodeUnit& u = schedule.units()[waiting[i]];
        if (schedule.sentParts(u.folder) == u.part) {
          schedule.sent(waiting[i]);
          waiting.erase(waiting.begin() + static_cast<long>(i));
          progress = true;
          break;
        }
      }
    }
  }
  EXPECT_EQ(schedule.inUse(), 0u);
  return result;
}

TEST(DecodeScheduleTest, UnitsGoToEveryProcessorWithinTheBudget) {
  for (unsigned processors : {1u, 2u, 16u}) {
    SCOPED_TRACE(processors);
    DecodeSchedule schedule(syntheticUnits(), 10, processors, 2048 * kMiB);
    EXPECT_EQ(schedule.rule().parallel, processors);
    EXPECT_EQ(schedule.rule().budget, processors * 4 * kMiB + kSlack);
    const Replay r = replay(schedule, processors);
    ASSERT_EQ(r.handedOut.size(), 17u);
    // By packed bytes: folders 0 and 2..9 (4 MiB each) in archive order,
    // then the blocks of folder 1 in order.
    EXPECT_EQ(schedule.units()[r.handedOut[0]].folder, 0u);
    EXPECT_EQ(schedule.units()[r.handedOut[8]].folder, 9u);
    for (size_t i = 9; i < 17; ++i) EXPECT_EQ(schedule.units()[r.handedOut[i]].part, i - 9);
    if (processors == 1) {
      EXPECT_EQ(r.ahead, 0u);  // memory as with one folder at a time
      EXPECT_EQ(schedule.peak(), 4 * kMiB);
    } else {
      EXPECT_GT(r.ahead, 0u);
      EXPECT_LE(schedule.peak(), schedule.rule().budget);
    }
    // The large folder's blocks decode side by side: 16 processors are
    // all busy at once, not only after it.
    EXPECT_EQ(r.mostRunning, processors);
  }
}

TEST(DecodeScheduleTest, NarrowCeilingBoundsTheUnitsDecodedAhead) {
  std::vector<DecodeUnit> units = syntheticUnits();
  for (DecodeUnit& unit : units) {
    unit.streamNeed = 64 * kMiB;
    if (unit.parts > 1) unit.bufferNeed = 64 * kMiB;
  }
  DecodeSchedule schedule(units, 10, 16, kNarrowCeiling);
  EXPECT_EQ(schedule.rule().parallel, 3u);
  const Replay r = replay(schedule, 16);
  EXPECT_EQ(r.handedOut.size(), 17u);
  EXPECT_LE(r.mostRunning, 3u);
  EXPECT_LE(schedule.peak(), 3 * 64 * kMiB + kSlack);
}

DecodeUnit costed(size_t folder, unsigned part, unsigned parts, UInt64 packSize, UInt32 files = 0) {
  DecodeUnit unit;
  unit.folder = folder;
  unit.part = part;
  unit.parts = parts;
  unit.packSize = packSize;
  unit.files = files;
  return unit;
}

TEST(DecodeScheduleTest, CostOrderTakesTheSlowestFirstAndKeepsEveryFolderInOrder) {
  const struct {
    const char* what;
    std::vector<DecodeUnit> units;
    std::vector<size_t> order;
  } cases[] = {
      {"whole folders, largest packed first, ties in the given order",
       {costed(0, 0, 1, 5), costed(1, 0, 1, 9), costed(2, 0, 1, 5), costed(3, 0, 1, 0)},
       {1, 0, 2, 3}},
      {"a folder's blocks take the places their costs earn, in part order",
       {costed(0, 0, 3, 2), costed(0, 1, 3, 8), costed(0, 2, 3, 6), costed(1, 0, 1, 7)},
       {0, 3, 1, 2}},
      {"a unit of many files weighs their writing: 3 + 2 x 4096 over 8190",
       {costed(0, 0, 1, 8190), costed(1, 0, 1, 3, 2)},
       {1, 0}},
      {"folders given out of archive order",
       {costed(2, 0, 2, 4), costed(2, 1, 2, 4), costed(0, 0, 1, 1), costed(1, 0, 1, 4)},
       {0, 1, 3, 2}},
      {"nothing to order", {}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(costOrder(c.units), c.order) << c.what;
  }
}

}  // namespace
}  // namespace kv
