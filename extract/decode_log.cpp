#include "extract/decode_log.h"

#include <atomic>

namespace kv {

namespace {

std::atomic<DecodeLog*> current{nullptr};

}  // namespace

void setDecodeLog(DecodeLog* log) { current.store(log); }

DecodeLog* decodeLog() { return current.load(); }

}  // namespace kv
