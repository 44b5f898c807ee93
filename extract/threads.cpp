#include "extract/threads.h"

namespace kv {

Semaphore::Semaphore(UInt32 initial, UInt32 maximum) {
  Semaphore_Construct(&semaphore_);
  ok_ = Semaphore_Create(&semaphore_, initial, maximum) == 0;
}

Semaphore::~Semaphore() {
  if (ok_) Semaphore_Close(&semaphore_);
}

void Semaphore::wait() { Semaphore_Wait(&semaphore_); }

void Semaphore::post() { Semaphore_Release1(&semaphore_); }

bool Thread::start(Body body, void* argument) {
  body_ = body;
  argument_ = argument;
  return Thread_Create(&thread_, &Thread::entry, this) == 0;
}

void Thread::join() {
  if (Thread_WasCreated(&thread_)) Thread_Wait_Close(&thread_);
}

THREAD_FUNC_DECL Thread::entry(void* self) {
  Thread* thread = static_cast<Thread*>(self);
  thread->body_(thread->argument_);
  return THREAD_FUNC_RET_ZERO;
}

}  // namespace kv
