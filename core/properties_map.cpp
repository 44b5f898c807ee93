#include "core/properties_map.h"

#include <cstring>

#include "core/text.h"

namespace kv {

namespace {

const uint32_t kHashSeed = 0xdaa4abd3u;

// One line of the stream without its newline and with every carriage return
// dropped; false at the end of input when nothing was read.
bool readLine(std::FILE* stream, std::string& line) {
  line.clear();
  bool readAny = false;
  int c;
  while ((c = std::fgetc(stream)) != EOF) {
    readAny = true;
    if (c == '\n') break;
    if (c == '\r') continue;
    line.push_back(static_cast<char>(c));
  }
  // A NUL byte ends the line's text, as it would in a C string.
  line.resize(std::strlen(line.c_str()));
  return readAny;
}

bool hasNonBlank(const std::string& text) {
  for (char c : text) {
    if (!isBlank(c)) return true;
  }
  return false;
}

}  // namespace

PropertiesMap::PropertiesMap(uint32_t bucketCount, bool caseInsensitive)
    : caseInsensitive_(caseInsensitive), buckets_(bucketCount) {}

PropertiesMap::~PropertiesMap() {
  // Unlink the chains one entry at a time so that a long chain is not freed
  // by recursion.
  for (auto& head : buckets_) {
    while (head) head = std::move(head->next);
  }
}

uint32_t PropertiesMap::hash(const std::string& key) const {
  uint32_t h = kHashSeed;
  for (char byte : key) {
    uint32_t c = caseInsensitive_
                     ? static_cast<uint32_t>(static_cast<unsigned char>(asciiLower(byte)))
                     : static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(byte)));
    h = (h * 33u) ^ c;
  }
  return h;
}

bool PropertiesMap::equal(const std::string& a, const std::string& b) const {
  return caseInsensitive_ ? equalsIgnoringAsciiCase(a, b) : a == b;
}

const std::string* PropertiesMap::get(const std::string& key) const {
  if (buckets_.empty()) return nullptr;
  for (const Entry* e = buckets_[hash(key) % buckets_.size()].get(); e; e = e->next.get()) {
    if (equal(e->key, key)) return &e->value;
  }
  return nullptr;
}

std::optional<std::string> PropertiesMap::set(const std::string& key, const std::string& value) {
  if (buckets_.empty()) return std::nullopt;
  std::unique_ptr<Entry>& head = buckets_[hash(key) % buckets_.size()];
  for (Entry* e = head.get(); e; e = e->next.get()) {
    if (!equal(e->key, key)) continue;
    if (equal(e->value, value)) return e->value;
    std::string previous = std::move(e->value);
    e->value = value;
    return previous;
  }
  auto entry = std::make_unique<Entry>();
  entry->key = key;
  entry->value = value;
  entry->next = std::move(head);
  head = std::move(entry);
  return std::nullopt;
}

// Per line: leading white space is skipped; empty lines and lines whose
// first non-blank character is "#" are comments. The key runs to the first
// "=" without its trailing white space; a line with no "=" or with "=" first
// is ignored. The value is the rest without surrounding white space and may
// be empty.
void PropertiesMap::load(std::FILE* stream) {
  std::string line;
  while (readLine(stream, line)) {
    size_t start = 0;
    while (start < line.size() && isBlank(line[start])) ++start;
    if (start == line.size() || line[start] == '#' || line[start] == '=') continue;
    size_t equals = line.find('=', start);
    if (equals == std::string::npos) continue;
    size_t keyEnd = equals;
    while (keyEnd > start && isBlank(line[keyEnd - 1])) --keyEnd;
    size_t valueStart = equals + 1;
    while (valueStart < line.size() && isBlank(line[valueStart])) ++valueStart;
    size_t valueEnd = line.size();
    while (valueEnd > valueStart && isBlank(line[valueEnd - 1])) --valueEnd;
    set(line.substr(start, keyEnd - start), line.substr(valueStart, valueEnd - valueStart));
  }
}

void PropertiesMap::save(std::FILE* stream) const {
  for (const auto& head : buckets_) {
    for (const Entry* e = head.get(); e; e = e->next.get()) {
      if (hasNonBlank(e->value))
        std::fprintf(stream, "%s = %s\n", e->key.c_str(), e->value.c_str());
    }
  }
}

}  // namespace kv
