// keepText() for the fuzz targets: the launcher keeps its argument texts
// until the process ends, which in a fuzzer would be millions of runs; here
// a run's texts are released when the next run starts.
#include <deque>
#include <string>

#include "core/text_store.h"
#include "fuzz/fuzz_support.h"

namespace {

std::deque<std::string>& store() {
  static std::deque<std::string> texts;
  return texts;
}

}  // namespace

namespace kv {

const char* keepText(std::string text) {
  store().push_back(std::move(text));
  return store().back().c_str();
}

}  // namespace kv

namespace kvfuzz {

void releaseKeptTexts() { store().clear(); }

}  // namespace kvfuzz
