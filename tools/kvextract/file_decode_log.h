// FileDecodeLog: the extraction's decode log (extract/decode_log.h) as
// lines of text for bench/simulate.py, appended to a file:
//   plan processors P parallel N budget B ceiling C
//   unit POSITION folder F part I parts K unpack U pack P files N stream_need S buffer_need B
//   time POSITION ahead 0|1 cpu SECONDS      (decoding)
//   write POSITION cpu SECONDS               (writing its files)
//   place cpu SECONDS                        (the placing thread)
//   peak BYTES
#pragma once

#include <cstdio>

#include "extract/decode_log.h"

namespace kv {

class FileDecodeLog final : public DecodeLog {
 public:
  explicit FileDecodeLog(std::FILE* file) : file_(file) {}

  void plan(unsigned processors, unsigned parallel, uint64_t budget, uint64_t ceiling) override {
    std::fprintf(file_, "plan processors %u parallel %u budget %llu ceiling %llu\n", processors,
                 parallel, ull(budget), ull(ceiling));
  }
  void unit(const LoggedUnit& u) override {
    std::fprintf(file_,
                 "unit %zu folder %zu part %u parts %u unpack %llu pack %llu files %u "
                 "stream_need %llu buffer_need %llu\n",
                 u.position, u.folder, u.part, u.parts, ull(u.unpackSize), ull(u.packSize),
                 static_cast<unsigned>(u.files), ull(u.streamNeed), ull(u.bufferNeed));
  }
  void decoded(size_t unit, bool ahead, double cpuSeconds) override {
    std::fprintf(file_, "time %zu ahead %d cpu %.6f\n", unit, ahead ? 1 : 0, cpuSeconds);
  }
  void written(size_t unit, double cpuSeconds) override {
    std::fprintf(file_, "write %zu cpu %.6f\n", unit, cpuSeconds);
  }
  void placed(double cpuSeconds) override { std::fprintf(file_, "place cpu %.6f\n", cpuSeconds); }
  void peak(uint64_t bytes) override { std::fprintf(file_, "peak %llu\n", ull(bytes)); }

 private:
  static unsigned long long ull(uint64_t value) { return static_cast<unsigned long long>(value); }

  std::FILE* file_;
};

}  // namespace kv
