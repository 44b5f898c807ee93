// Threads for the extraction, over the LZMA SDK's Threads.h (POSIX threads
// or Win32 threads, so the MinGW build needs no std::thread): a mutex, a
// counting semaphore and a joinable thread, each released when it goes out
// of scope. Creation failures are reported by ok()/start(), never thrown.
#pragma once

#include "Threads.h"
#include "extract/host.h"

namespace kv {

class Mutex {
 public:
  Mutex() { ok_ = CriticalSection_Init(&section_) == 0; }
  ~Mutex() {
    if (ok_) CriticalSection_Delete(&section_);
  }
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  bool ok() const { return ok_; }
  void lock() { CriticalSection_Enter(&section_); }
  void unlock() { CriticalSection_Leave(&section_); }

 private:
  CCriticalSection section_;
  bool ok_ = false;
};

class Lock {
 public:
  explicit Lock(Mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
  ~Lock() { mutex_.unlock(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  Mutex& mutex_;
};

class Semaphore {
 public:
  Semaphore(UInt32 initial, UInt32 maximum);
  ~Semaphore();
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  bool ok() const { return ok_; }
  void wait();
  void post();

 private:
  CSemaphore semaphore_;
  bool ok_ = false;
};

// Runs `body(argument)` on a new thread; the destructor waits for it.
class Thread {
 public:
  using Body = void (*)(void* argument);

  Thread() { Thread_CONSTRUCT(&thread_); }
  ~Thread() { join(); }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // false when the thread could not be created.
  bool start(Body body, void* argument);
  void join();

 private:
  static THREAD_FUNC_DECL entry(void* self);

  CThread thread_;
  Body body_ = nullptr;
  void* argument_ = nullptr;
};

}  // namespace kv
