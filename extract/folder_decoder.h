// FolderDecoder: streams the unpacked bytes of one 7z folder (solid block)
// into a ByteSink, in order, without ever holding the block: the packed
// streams are read in 256 KiB pieces, the coders are chained through
// buffers of a few hundred KiB, and LZMA/LZMA2 keep only their dictionary
// (no larger than the folder). Supported layouts are those of the SDK's
// decoder: one main coder (copy, LZMA, LZMA2, PPMd), a main coder and a
// filter (BCJ, ARM, ARMT, ARM64, PPC, SPARC, IA64, RISCV, Delta), and the
// four-coder BCJ2 chain. With `threads` > 1 a BCJ2 folder decodes its main
// stream on a second thread.
//
// An LZMA2 folder (alone or before a filter) whose stream starts its
// dictionary afresh along the way (the encoder's independent blocks) is
// cut by planFolder() into units of whole blocks: decodePart() decodes one
// unit's LZMA2 bytes, straight to a sink or ahead into a buffer, and
// FolderStream takes the units' bytes in order through the filter and the
// folder's CRC. A FolderDecoder belongs to one worker thread and keeps its
// small dictionaries for the next folder.
#pragma once

#include <vector>

#include "7z.h"
#include "extract/coders.h"
#include "extract/decode_schedule.h"
#include "extract/pack_reader.h"

namespace kv {

class FolderDecoder {
 public:
  // Dictionaries up to this size are kept for the next folder.
  static constexpr size_t kKeptDictionary = 1 << 20;

  explicit FolderDecoder(ArchiveInput& input) : input_(input) {}
  FolderDecoder(const FolderDecoder&) = delete;
  FolderDecoder& operator=(const FolderDecoder&) = delete;

  // SZ_OK once all of the folder's bytes went to `sink` (and its CRC, when
  // the archive has one, matched: else SZ_ERROR_CRC); SZ_ERROR_UNSUPPORTED,
  // SZ_ERROR_DATA, SZ_ERROR_INPUT_EOF, SZ_ERROR_MEM, or the sink's result.
  SRes decode(const CSzArEx& db, UInt32 folder, unsigned threads, ByteSink* sink);

  // The LZMA2 bytes of one unit of a planned folder: to `sink`, or with
  // `ahead` into it (its first unit.unpackSize bytes; `sink` unused).
  SRes decodePart(const CSzArEx& db, UInt32 folder, const DecodeUnit& unit, HeapBuffer* ahead,
                  ByteSink* sink);

 private:
  SRes decodeFolder(const CSzArEx& db, UInt32 folder, unsigned threads, ByteSink* sink);
  void keepSmallDictionaries();

  ArchiveInput& input_;
  HeapBuffer dictionaries_[3];
  PackReader packs_[4];
};

// Takes the units' LZMA2 bytes of a planned folder, in order, through its
// filter and CRC check to `next`.
class FolderStream final : public ByteSink {
 public:
  FolderStream(const CSzArEx& db, UInt32 folder, ByteSink* next);
  SRes write(const Byte* data, size_t size) override;
  // After the last unit: the filter's last bytes, the size and CRC checks.
  SRes finish();

 private:
  const CSzArEx& db_;
  UInt32 folder_;
  ByteSink* next_;
  FilterSink filter_;
  bool filtered_ = false;
  SRes init_ = SZ_OK;
  UInt32 crc_;
  UInt64 total_ = 0;
  struct Counter final : public ByteSink {
    FolderStream* owner;
    SRes write(const Byte* data, size_t size) override;
  } counter_;
};

// The units of folder `index` (at position `position` of the caller's
// list), appended to `units`: one, or for a folder with independent LZMA2
// blocks, runs of blocks holding at least a dictionary's worth of bytes.
// A unit is decoded ahead only if it holds at most kMaxAheadUnit bytes.
constexpr UInt64 kMaxAheadUnit = 64u << 20;
void planFolder(const CSzArEx& db, UInt32 index, size_t position, ArchiveInput& input,
                std::vector<DecodeUnit>* units);

// The memory a folder's coders need besides fixed buffers: dictionaries
// (bounded by the unpacked size) and PPMd models.
UInt64 folderMemoryNeed(const CSzArEx& db, UInt32 folder);

}  // namespace kv
