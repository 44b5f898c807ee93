// GrowableArgList: a null-terminated list of argument texts that it does not
// own (they live until the process ends, see core/text_store.h). Capacity
// starts at 16 slots and grows in steps of 16 so that count + 1 always fits;
// every slot past the last entry is null. Positions out of range are clamped,
// never an error. Running out of memory prints "Error allocating %d bytes of
// memory" (entries times 4) on standard error and ends the process with 1.
#pragma once

#include <functional>

namespace kv {

class GrowableArgList {
 public:
  GrowableArgList();
  ~GrowableArgList();
  GrowableArgList(const GrowableArgList&) = delete;
  GrowableArgList& operator=(const GrowableArgList&) = delete;

  int count() const { return count_; }
  int capacity() const { return capacity_; }
  const char* at(int index) const { return items_[index]; }
  void set(int index, const char* text) { items_[index] = text; }
  // The entries followed by a null slot.
  const char* const* items() const { return items_; }

  void insert(int position, int n, const char* const* texts);
  void append(int n, const char* const* texts) { insert(count_, n, texts); }
  void push(const char* text) { insert(count_, 1, &text); }
  void insertOne(int position, const char* text) { insert(position, 1, &text); }
  void appendList(const GrowableArgList& other) { insert(count_, other.count_, other.items_); }

  // Index of the first entry at or after `from` equal to `text` byte for
  // byte, or -1 (also for a null text).
  int find(const char* text, int from) const;
  void erase(int position, int n);
  void truncate(int position) { erase(position, count_ - position); }

  // Hands the entries to `edit` as an argc/argv pair that it may change in
  // place, as a library's option parser does (gtk_init_check takes its own
  // options out); the texts must then be writable. Afterwards the count is
  // what `edit` left (never more than before) and every slot after the last
  // entry is null again. Returns what `edit` returns.
  bool editInPlace(const std::function<bool(int* argc, char*** argv)>& edit);

 private:
  void growFor(int needed);

  int capacity_ = 0;
  int count_ = 0;
  const char** items_ = nullptr;
};

}  // namespace kv
