// BlockStream: one block of the launcher file shown to the 7z decoder as if
// it were a file of its own. Archive position 0 is the block's first byte
// (`start`); reads stop at `end`, so the zero padding after an archive inside
// its block is never reached. The decoder reads through the look-ahead reader
// (16384-byte buffer) returned by lookStream().
//
// The launcher file is shared, not owned; the stream positions it explicitly
// before every use, so other readers may move it between extractions. One
// stream per extraction, kept on the caller's stack; not copyable (the
// decoder holds pointers into it).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "7zTypes.h"

namespace kv {

class BlockStream {
 public:
  static constexpr size_t kLookAheadSize = 16384;

  BlockStream(std::FILE* file, uint32_t start, uint32_t end);
  BlockStream(const BlockStream&) = delete;
  BlockStream& operator=(const BlockStream&) = delete;

  // The buffered reader the decoder opens the archive from.
  ILookInStreamPtr lookStream() { return &look_.vt; }
  // The raw seekable stream below it (read and seek confined to the block).
  ISeekInStreamPtr seekStream() { return &seek_.vt; }

  uint32_t start() const { return start_; }
  uint32_t end() const { return end_; }

 private:
  // The decoder's interface plus the way back to this object.
  struct SeekVtable {
    ISeekInStream vt;
    BlockStream* owner;
  };

  static SRes readEntry(ISeekInStreamPtr p, void* buffer, size_t* size);
  static SRes seekEntry(ISeekInStreamPtr p, Int64* position, ESzSeek origin);
  SRes read(void* buffer, size_t* size);
  SRes seek(Int64* position, ESzSeek origin);

  std::FILE* file_;
  uint32_t start_;
  uint32_t end_;
  SeekVtable seek_;
  std::vector<Byte> buffer_;
  CLookToRead2 look_;
};

}  // namespace kv
