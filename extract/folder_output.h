// FolderOutput: where the decoding workers send the unpacked bytes of the
// folders. Each folder's bytes arrive in order from one thread at a time
// (the thread may change between the folder's units or at its end, always
// after the workers' lock or a writing pipe's hand-over); different folders
// arrive on different threads at once. Every folder that was started ends with folderEnd(), every
// worker with writerEnd() once it sends nothing more.
#pragma once

#include <cstddef>

#include "7zTypes.h"

namespace kv {

// The result a folder cut short by the writer ends with.
constexpr SRes kCancelled = SZ_ERROR_PROGRESS;

class FolderOutput {
 public:
  virtual void data(UInt32 folder, const Byte* data, size_t size) = 0;
  // `result`: SZ_OK, kCancelled, or the failure that ended the folder
  // after the bytes before it.
  virtual void folderEnd(UInt32 folder, SRes result) = 0;
  virtual void writerEnd() = 0;

 protected:
  ~FolderOutput() = default;
};

}  // namespace kv
