// IProgress: the sink an extraction reports to. start(total) once the archive
// is open (number of file entries), update(done) after each file written,
// finish() once at the end or after the first error. Implemented by the
// progress windows of the platform layers; the console run passes none.
#pragma once

namespace kv {

class IProgress {
 public:
  virtual void start(int total) = 0;
  virtual void update(int done) = 0;
  virtual void finish() = 0;

 protected:
  ~IProgress() = default;
};

}  // namespace kv
