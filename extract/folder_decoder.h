// FolderDecoder: streams the unpacked bytes of one 7z folder (solid block)
// into a ByteSink, in order, without ever holding the block: the packed
// streams are read in 256 KiB pieces, the coders are chained through
// buffers of a few hundred KiB, and LZMA/LZMA2 keep only their dictionary
// (no larger than the folder). Supported layouts are those of the SDK's
// decoder: one main coder (copy, LZMA, LZMA2, PPMd), a main coder and a
// filter (BCJ, ARM, ARMT, ARM64, PPC, SPARC, IA64, RISCV, Delta), and the
// four-coder BCJ2 chain.
//
// With `threads` > 1, an LZMA2 folder with more than one independent block
// is decoded by the SDK's multi-threaded LZMA2 decoder (holding at most
// `threads` blocks of up to kMaxThreadedBlock bytes), and a BCJ2 folder
// decodes its main stream on a second thread. A FolderDecoder
// belongs to one worker thread and keeps its small dictionaries for the
// next folder.
#pragma once

#include "7z.h"
#include "extract/coders.h"
#include "extract/pack_reader.h"

namespace kv {

class FolderDecoder {
 public:
  // Blocks of a multi-block LZMA2 stream larger than this are decoded by
  // one thread.
  static constexpr size_t kMaxThreadedBlock = 1 << 24;
  // Dictionaries up to this size are kept for the next folder.
  static constexpr size_t kKeptDictionary = 1 << 20;

  explicit FolderDecoder(ArchiveInput& input) : input_(input) {}
  FolderDecoder(const FolderDecoder&) = delete;
  FolderDecoder& operator=(const FolderDecoder&) = delete;

  // SZ_OK once all of the folder's bytes went to `sink` (and its CRC, when
  // the archive has one, matched: else SZ_ERROR_CRC); SZ_ERROR_UNSUPPORTED,
  // SZ_ERROR_DATA, SZ_ERROR_INPUT_EOF, SZ_ERROR_MEM, or the sink's result.
  SRes decode(const CSzArEx& db, UInt32 folder, unsigned threads, ByteSink* sink);

 private:
  SRes decodeFolder(const CSzArEx& db, UInt32 folder, unsigned threads, ByteSink* sink);
  SRes decodeThreaded(Byte prop, UInt64 unpackSize, unsigned threads, PackReader* input,
                      ByteSink* sink);

  ArchiveInput& input_;
  HeapBuffer dictionaries_[3];
  PackReader packs_[4];
};

// The memory a folder's coders need besides fixed buffers: dictionaries
// (bounded by the unpacked size) and PPMd models.
UInt64 folderMemoryNeed(const CSzArEx& db, UInt32 folder);

}  // namespace kv
