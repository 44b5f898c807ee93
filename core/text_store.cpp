#include "core/text_store.h"

#include <deque>

namespace kv {

const char* keepText(std::string text) {
  // A deque never moves its elements, and a string's heap buffer does not
  // move while the string itself stays put.
  static std::deque<std::string>* store = new std::deque<std::string>();
  store->push_back(std::move(text));
  return store->back().c_str();
}

}  // namespace kv
