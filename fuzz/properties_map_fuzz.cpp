// PropertiesMap load and save over arbitrary text: saving what was loaded
// and loading it again keeps every saved key with its value, and saving that
// gives the same lines (the order within a chain may turn round).
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "core/properties_map.h"
#include "fuzz/fuzz_support.h"

namespace {

std::string saved(const kv::PropertiesMap& map) {
  char* buffer = nullptr;
  size_t length = 0;
  std::FILE* stream = open_memstream(&buffer, &length);
  KV_FUZZ_CHECK(stream != nullptr);
  map.save(stream);
  std::fclose(stream);
  std::string text(buffer, length);
  std::free(buffer);
  return text;
}

void load(kv::PropertiesMap& map, const std::string& text) {
  kv::FilePtr stream =
      kvfuzz::openBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  KV_FUZZ_CHECK(stream != nullptr);
  map.load(stream.get());
}

std::vector<std::string> sortedLines(const std::string& text) {
  std::vector<std::string> lines =
      kvfuzz::splitTexts(reinterpret_cast<const uint8_t*>(text.data()), text.size(), '\n');
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint32_t buckets = 1 + (data[0] & 0x3F);
  const bool caseInsensitive = (data[0] & 0x40) != 0;
  const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);

  kv::PropertiesMap first(buckets, caseInsensitive);
  load(first, input);
  const std::string text = saved(first);
  // Keys and values are texts: a NUL in them cannot be written, so the
  // round trip is checked only for inputs without one.
  if (input.find('\0') != std::string::npos) return 0;

  kv::PropertiesMap second(buckets, caseInsensitive);
  load(second, text);
  for (const std::string& line : sortedLines(text)) {
    const size_t equals = line.find(" = ");
    KV_FUZZ_CHECK(equals != std::string::npos && equals > 0);
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 3);
    const std::string* before = first.get(key);
    const std::string* after = second.get(key);
    KV_FUZZ_CHECK(before != nullptr && after != nullptr);
    KV_FUZZ_CHECK(*before == value && *after == value);
  }
  KV_FUZZ_CHECK(sortedLines(saved(second)) == sortedLines(text));
  return 0;
}
