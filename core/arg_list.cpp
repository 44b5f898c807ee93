#include "core/arg_list.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace kv {

namespace {

const int kSlotStep = 16;

// The slot array of a list, or the end of the process when memory runs out.
// The reported size counts four bytes per slot, whatever the pointer width.
const char** resizeSlots(const char** items, int slots) {
  void* grown = std::realloc(items, static_cast<size_t>(slots) * sizeof(const char*));
  if (!grown) {
    std::fprintf(stderr, "Error allocating %d bytes of memory", slots * 4);
    std::exit(1);
  }
  return static_cast<const char**>(grown);
}

}  // namespace

GrowableArgList::GrowableArgList() {
  capacity_ = kSlotStep;
  items_ = resizeSlots(nullptr, capacity_);
  for (int i = 0; i < capacity_; ++i) items_[i] = nullptr;
}

GrowableArgList::~GrowableArgList() { std::free(items_); }

void GrowableArgList::growFor(int needed) {
  if (needed < capacity_) return;
  int slots = (needed + kSlotStep - 1) / kSlotStep * kSlotStep;
  if (slots == capacity_) return;  // count + n + 1 == capacity still fits
  items_ = resizeSlots(items_, slots);
  for (int i = capacity_; i < slots; ++i) items_[i] = nullptr;
  capacity_ = slots;
}

void GrowableArgList::insert(int position, int n, const char* const* texts) {
  if (n <= 0) return;
  if (position < 0) position = 0;
  if (position > count_) position = count_;
  // The texts may come from this list's own slots (appendList of itself),
  // which growing and shifting would move under them: copy them out first.
  std::vector<const char*> ownCopy;
  std::less<const char* const*> before;
  if (!before(texts, items_) && before(texts, items_ + capacity_)) {
    ownCopy.assign(texts, texts + n);
    texts = ownCopy.data();
  }
  growFor(count_ + n + 1);
  std::memmove(items_ + position + n, items_ + position,
               static_cast<size_t>(count_ - position) * sizeof(const char*));
  for (int i = 0; i < n; ++i) items_[position + i] = texts[i];
  count_ += n;
  items_[count_] = nullptr;
}

int GrowableArgList::find(const char* text, int from) const {
  if (!text) return -1;
  if (from < 0) from = 0;
  for (int i = from; i < count_; ++i) {
    if (items_[i] && std::strcmp(items_[i], text) == 0) return i;
  }
  return -1;
}

void GrowableArgList::erase(int position, int n) {
  if (position < 0) {
    n += position;
    position = 0;
  }
  if (position > count_) position = count_;
  if (n > count_ - position) n = count_ - position;
  if (n <= 0) return;
  std::memmove(items_ + position, items_ + position + n,
               static_cast<size_t>(count_ - position - n) * sizeof(const char*));
  for (int i = count_ - n; i < count_; ++i) items_[i] = nullptr;
  count_ -= n;
}

bool GrowableArgList::editInPlace(const std::function<bool(int* argc, char*** argv)>& edit) {
  int argc = count_;
  char** argv = const_cast<char**>(items_);  // the slots are this list's own
  const bool result = edit(&argc, &argv);
  if (argc >= 0 && argc < count_) count_ = argc;
  for (int i = count_; i < capacity_; ++i) items_[i] = nullptr;
  return result;
}

}  // namespace kv
