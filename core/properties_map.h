// PropertiesMap: a chained hash table of text keys and values, optionally
// with case-insensitive keys, with a "key = value" text form. The chain order
// (new entries at the head) and the hash decide the order in which save()
// writes the lines, and the stored location file depends on that order.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

class PropertiesMap {
 public:
  PropertiesMap(uint32_t bucketCount, bool caseInsensitive);
  ~PropertiesMap();
  PropertiesMap(const PropertiesMap&) = delete;
  PropertiesMap& operator=(const PropertiesMap&) = delete;

  // The value stored for `key`, or null.
  const std::string* get(const std::string& key) const;
  // Stores `value` under `key`. Returns the previous value when it was
  // replaced; when the stored value already equals `value` (ignoring case in
  // a case-insensitive map) nothing changes and that value is returned;
  // none for a new key (which goes to the head of its chain).
  std::optional<std::string> set(const std::string& key, const std::string& value);

  // Reads "key = value" lines (see the .cpp for the exact rules).
  void load(std::FILE* stream);
  // Writes "%s = %s\n" per entry whose value is not blank, chains in index
  // order, each chain from its head.
  void save(std::FILE* stream) const;

  uint32_t hash(const std::string& key) const;

 private:
  struct Entry {
    std::unique_ptr<Entry> next;
    std::string key;
    std::string value;
  };
  bool equal(const std::string& a, const std::string& b) const;

  bool caseInsensitive_;
  std::vector<std::unique_ptr<Entry>> buckets_;
};

}  // namespace kv
