// Reading the packed streams of an archive, possibly from several threads.
//
// ArchiveInput serialises reads at absolute archive positions over the
// block's seekable stream (one mutex, every read seeks first). PackReader
// is one packed stream, a byte range of the archive, read in pieces through
// its own buffer: look() shows the next bytes, skip() consumes them. Past
// the range's end look() shows nothing; an archive that ends inside the
// range is SZ_ERROR_INPUT_EOF.
#pragma once

#include <cstddef>

#include "7zTypes.h"
#include "extract/heap_buffer.h"
#include "extract/threads.h"

namespace kv {

class ArchiveInput {
 public:
  explicit ArchiveInput(ISeekInStreamPtr stream) : stream_(stream) {}

  // Reads up to `*size` bytes at `position`; *size becomes the count read
  // (0 only at the archive's end).
  SRes readAt(UInt64 position, Byte* buffer, size_t* size);

 private:
  ISeekInStreamPtr stream_;
  Mutex mutex_;
};

class PackReader {
 public:
  static constexpr size_t kBufferSize = 1 << 18;

  PackReader() = default;
  PackReader(const PackReader&) = delete;
  PackReader& operator=(const PackReader&) = delete;

  // The range [position, position + size) of `input`.
  void open(ArchiveInput* input, UInt64 position, UInt64 size);

  // The next unread bytes of the range (*size 0 at its end).
  SRes look(const Byte** data, size_t* size);
  void skip(size_t count) { cur_ += count; }

  // A sequential-read view for the SDK's stream decoders.
  ISeqInStreamPtr seqStream() { return &seq_.vt; }

 private:
  struct SeqView {
    ISeqInStream vt;
    PackReader* owner;
  };
  static SRes readEntry(ISeqInStreamPtr p, void* buffer, size_t* size);

  ArchiveInput* input_ = nullptr;
  UInt64 position_ = 0;
  UInt64 left_ = 0;  // not yet read into the buffer
  HeapBuffer buffer_;
  const Byte* cur_ = nullptr;
  const Byte* lim_ = nullptr;
  SeqView seq_{};
};

}  // namespace kv
