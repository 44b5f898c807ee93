#include "extract/folder_decoder.h"

#include <memory>

#include "7zCrc.h"
#include "extract/archive.h"
#include "extract/threaded_source.h"

namespace kv {

namespace {

// The folder's coder records, or SZ_ERROR_UNSUPPORTED when the layout is
// not one of the three this decoder chains.
SRes readFolder(const CSzAr& ar, UInt32 index, CSzFolder* folder, const Byte** coderData) {
  CSzData data;
  data.Data = ar.CodersData + ar.FoCodersOffsets[index];
  data.Size = ar.FoCodersOffsets[index + 1] - ar.FoCodersOffsets[index];
  *coderData = data.Data;
  RINOK(SzGetNextFolderItem(folder, &data))
  if (data.Size != 0 || folder->UnpackStream != ar.FoToMainUnpackSizeIndex[index]) {
    return SZ_ERROR_UNSUPPORTED;
  }
  const CSzFolder& f = *folder;
  auto mainCoder = [](const CSzCoderInfo& c) {
    return c.NumStreams == 1 && isMainCoder(c.MethodID);
  };
  if (f.NumCoders < 1 || !mainCoder(f.Coders[0])) return SZ_ERROR_UNSUPPORTED;
  if (f.NumCoders == 1) {
    return f.NumPackStreams == 1 && f.PackStreams[0] == 0 && f.NumBonds == 0 ? SZ_OK
                                                                             : SZ_ERROR_UNSUPPORTED;
  }
  if (f.NumCoders == 2) {
    const CSzCoderInfo& c = f.Coders[1];
    return c.NumStreams == 1 && isFilter(c.MethodID) && f.NumPackStreams == 1 &&
                   f.PackStreams[0] == 0 && f.NumBonds == 1 && f.Bonds[0].InIndex == 1 &&
                   f.Bonds[0].OutIndex == 0
               ? SZ_OK
               : SZ_ERROR_UNSUPPORTED;
  }
  if (f.NumCoders == 4) {
    const bool layout = mainCoder(f.Coders[1]) && mainCoder(f.Coders[2]) &&
                        f.Coders[3].MethodID == method::kBcj2 && f.Coders[3].NumStreams == 4 &&
                        f.NumPackStreams == 4 && f.PackStreams[0] == 2 && f.PackStreams[1] == 6 &&
                        f.PackStreams[2] == 1 && f.PackStreams[3] == 0 && f.NumBonds == 3 &&
                        f.Bonds[0].InIndex == 5 && f.Bonds[0].OutIndex == 0 &&
                        f.Bonds[1].InIndex == 4 && f.Bonds[1].OutIndex == 1 &&
                        f.Bonds[2].InIndex == 3 && f.Bonds[2].OutIndex == 2;
    return layout ? SZ_OK : SZ_ERROR_UNSUPPORTED;
  }
  return SZ_ERROR_UNSUPPORTED;
}

// Counts and checks what passes to the next sink: the folder's CRC.
class CheckingSink final : public ByteSink {
 public:
  CheckingSink(ByteSink* next, bool checkCrc) : next_(next), checkCrc_(checkCrc) {}
  SRes write(const Byte* data, size_t size) override {
    if (checkCrc_) crc_ = CrcUpdate(crc_, data, size);
    total_ += size;
    return next_->write(data, size);
  }
  UInt32 crc() const { return CRC_GET_DIGEST(crc_); }
  UInt64 total() const { return total_; }

 private:
  ByteSink* next_;
  bool checkCrc_;
  UInt32 crc_ = CRC_INIT_VAL;
  UInt64 total_ = 0;
};

SRes pump(ByteSource* source, ByteSink* sink) {
  for (;;) {
    const Byte* data = nullptr;
    size_t size = 0;
    RINOK(source->next(&data, &size))
    if (size == 0) return SZ_OK;
    RINOK(sink->write(data, size))
  }
}

}  // namespace

UInt64 folderMemoryNeed(const CSzArEx& db, UInt32 index) {
  CSzFolder folder;
  const Byte* coderData = nullptr;
  if (readFolder(db.db, index, &folder, &coderData) != SZ_OK) return 0;
  const UInt64* unpackSizes = db.db.CoderUnpackSizes + db.db.FoToCoderUnpackSizes[index];
  UInt64 need = 0;
  for (UInt32 i = 0; i < folder.NumCoders; ++i) {
    const CSzCoderInfo& c = folder.Coders[i];
    const Byte* props = coderData + c.PropsOffset;
    need += dictionaryNeed(c.MethodID, props, c.PropsSize, unpackSizes[i]);
    if (c.MethodID == method::kPpmd) need += ppmdMemory(props, c.PropsSize);
  }
  return need;
}

SRes FolderDecoder::decode(const CSzArEx& db, UInt32 index, unsigned threads, ByteSink* sink) {
  const SRes result = decodeFolder(db, index, threads, sink);
  keepSmallDictionaries();
  return result;
}

// Large dictionaries go back to the heap: the memory budget counts only
// the units being decoded. Small ones serve the next folder.
void FolderDecoder::keepSmallDictionaries() {
  for (HeapBuffer& dictionary : dictionaries_) {
    if (dictionary.capacity() > kKeptDictionary) dictionary.release();
  }
}

SRes FolderDecoder::decodePart(const CSzArEx& db, UInt32 index, const DecodeUnit& unit,
                               HeapBuffer* ahead, ByteSink* sink) {
  const CSzAr& ar = db.db;
  CSzFolder folder;
  const Byte* coderData = nullptr;
  RINOK(readFolder(ar, index, &folder, &coderData))
  const CSzCoderInfo& main = folder.Coders[0];
  if (main.MethodID != method::kLzma2) return SZ_ERROR_UNSUPPORTED;
  const UInt64* packPositions = ar.PackPositions + ar.FoStartPackStreamIndex[index];
  packs_[0].open(&input_, db.dataPos + packPositions[0] + unit.packOffset, unit.packSize);
  std::unique_ptr<ByteSource> source;
  HeapBuffer* dictionary = ahead ? ahead : &dictionaries_[0];
  SRes result =
      makeMainCoder(main.MethodID, coderData + main.PropsOffset, main.PropsSize, unit.packSize,
                    unit.unpackSize, &packs_[0], dictionary, &source, ahead != nullptr);
  if (result == SZ_OK) {
    if (ahead) {
      // The pieces fill the buffer from its start.
      for (UInt64 done = 0;;) {
        const Byte* data = nullptr;
        size_t size = 0;
        result = source->next(&data, &size);
        if (result != SZ_OK || size == 0) break;
        if (data != ahead->data() + done) {
          result = SZ_ERROR_FAIL;
          break;
        }
        done += size;
      }
    } else {
      result = pump(source.get(), sink);
    }
  }
  source.reset();
  keepSmallDictionaries();
  return result;
}

FolderStream::FolderStream(const CSzArEx& db, UInt32 folder, ByteSink* next)
    : db_(db), folder_(folder), next_(next), filter_(&counter_), crc_(CRC_INIT_VAL) {
  counter_.owner = this;
  CSzFolder coders;
  const Byte* coderData = nullptr;
  init_ = readFolder(db.db, folder, &coders, &coderData);
  if (init_ == SZ_OK && coders.NumCoders == 2) {
    const CSzCoderInfo& c = coders.Coders[1];
    init_ = filter_.init(c.MethodID, coderData + c.PropsOffset, c.PropsSize);
    filtered_ = true;
  }
}

SRes FolderStream::Counter::write(const Byte* data, size_t size) {
  if (SzBitWithVals_Check(&owner->db_.db.FolderCRCs, owner->folder_)) {
    owner->crc_ = CrcUpdate(owner->crc_, data, size);
  }
  owner->total_ += size;
  return owner->next_->write(data, size);
}

SRes FolderStream::write(const Byte* data, size_t size) {
  RINOK(init_)
  return filtered_ ? filter_.write(data, size) : counter_.write(data, size);
}

SRes FolderStream::finish() {
  RINOK(init_)
  if (filtered_) RINOK(filter_.flush())
  const CSzAr& ar = db_.db;
  if (total_ != SzAr_GetFolderUnpackSize(&ar, folder_)) return SZ_ERROR_DATA;
  if (SzBitWithVals_Check(&ar.FolderCRCs, folder_) &&
      CRC_GET_DIGEST(crc_) != ar.FolderCRCs.Vals[folder_]) {
    return SZ_ERROR_CRC;
  }
  return SZ_OK;
}

namespace {

// Where the blocks of an LZMA2 stream start: (unpacked offset, packed
// offset) of every chunk that resets the dictionary, found by reading the
// chunk headers only. false when the headers do not add up to the
// folder's sizes (the decoder then reports the damage).
struct BlockStart {
  UInt64 unpack;
  UInt64 pack;
};

bool findLzma2Blocks(ArchiveInput& input, UInt64 start, UInt64 packSize, UInt64 unpackSize,
                     std::vector<BlockStart>* blocks) {
  UInt64 pack = 0;
  UInt64 unpack = 0;
  while (pack < packSize) {
    Byte header[6];
    size_t got = sizeof(header);
    if (packSize - pack < got) got = static_cast<size_t>(packSize - pack);
    if (input.readAt(start + pack, header, &got) != SZ_OK || got < 1) return false;
    const Byte control = header[0];
    if (control == 0) break;
    UInt64 chunkUnpack = 0;
    UInt64 chunkPack = 0;
    if (control == 1 || control == 2) {
      if (got < 3) return false;
      chunkUnpack = ((static_cast<UInt64>(header[1]) << 8) | header[2]) + 1;
      chunkPack = 3 + chunkUnpack;
    } else if (control >= 0x80) {
      if (got < 5) return false;
      chunkUnpack =
          ((static_cast<UInt64>(control & 0x1F) << 16) | (header[1] << 8) | header[2]) + 1;
      chunkPack = ((static_cast<UInt64>(header[3]) << 8) | header[4]) + 1;
      chunkPack += control >= 0xC0 ? 6 : 5;
    } else {
      return false;
    }
    if (control == 1 || control >= 0xE0) blocks->push_back({unpack, pack});
    unpack += chunkUnpack;
    pack += chunkPack;
  }
  return unpack == unpackSize && pack <= packSize && !blocks->empty() && (*blocks)[0].unpack == 0;
}

// The file entries of folder `index` whose bytes start at offsets in
// [from, to) of the folder's output.
UInt32 filesStartingIn(const CSzArEx& db, UInt32 index, UInt64 from, UInt64 to) {
  const UInt32 first = db.FolderToFile[index];
  if (first >= db.NumFiles) return 0;
  const UInt64 base = db.UnpackPositions[first];
  UInt32 count = 0;
  for (UInt32 file = first; file < db.NumFiles; ++file) {
    const UInt32 folder = db.FileToFolder[file];
    if (folder != index) {
      if (folder == static_cast<UInt32>(-1)) continue;  // no bytes
      break;
    }
    const UInt64 at = db.UnpackPositions[file] - base;
    if (at >= to) break;
    if (at >= from) ++count;
  }
  return count;
}

}  // namespace

void planFolder(const CSzArEx& db, UInt32 index, size_t position, ArchiveInput& input,
                std::vector<DecodeUnit>* units) {
  const CSzAr& ar = db.db;
  DecodeUnit whole;
  whole.folder = position;
  whole.unpackSize = SzAr_GetFolderUnpackSize(&ar, index);
  whole.streamNeed = folderMemoryNeed(db, index);
  whole.packSize = ar.PackPositions[ar.FoStartPackStreamIndex[index + 1]] -
                   ar.PackPositions[ar.FoStartPackStreamIndex[index]];
  CSzFolder folder;
  const Byte* coderData = nullptr;
  std::vector<BlockStart> blocks;
  if (readFolder(ar, index, &folder, &coderData) == SZ_OK && folder.NumCoders <= 2 &&
      folder.Coders[0].MethodID == method::kLzma2 && folder.Coders[0].PropsSize == 1) {
    const UInt64* unpackSizes = ar.CoderUnpackSizes + ar.FoToCoderUnpackSizes[index];
    const UInt64* packPositions = ar.PackPositions + ar.FoStartPackStreamIndex[index];
    const UInt64 lzmaBytes = unpackSizes[0];
    const UInt64 packSize = packPositions[1] - packPositions[0];
    const Byte* props = coderData + folder.Coders[0].PropsOffset;
    const UInt64 dictionary = dictionaryNeed(method::kLzma2, props, 1, lzmaBytes);
    if (lzmaBytes > dictionary &&
        findLzma2Blocks(input, db.dataPos + packPositions[0], packSize, lzmaBytes, &blocks)) {
      blocks.push_back({lzmaBytes, packSize});  // the end
    } else {
      blocks.clear();
    }
    // Runs of blocks of at least a dictionary's worth.
    std::vector<size_t> cuts;
    for (size_t b = 0; b + 1 < blocks.size(); ++b) {
      if (cuts.empty() || blocks[b].unpack - blocks[cuts.back()].unpack >= dictionary) {
        cuts.push_back(b);
      }
    }
    if (cuts.size() > 1) {
      for (size_t c = 0; c < cuts.size(); ++c) {
        const BlockStart& from = blocks[cuts[c]];
        const BlockStart& to = c + 1 < cuts.size() ? blocks[cuts[c + 1]] : blocks.back();
        DecodeUnit unit = whole;
        unit.part = static_cast<unsigned>(c);
        unit.parts = static_cast<unsigned>(cuts.size());
        unit.unpackOffset = from.unpack;
        unit.unpackSize = to.unpack - from.unpack;
        unit.packOffset = from.pack;
        unit.packSize = to.pack - from.pack;
        unit.streamNeed = dictionaryNeed(method::kLzma2, props, 1, unit.unpackSize);
        unit.bufferNeed = unit.unpackSize <= kMaxAheadUnit ? unit.unpackSize : 0;
        unit.files =
            filesStartingIn(db, index, unit.unpackOffset, unit.unpackOffset + unit.unpackSize);
        units->push_back(unit);
      }
      return;
    }
  }
  whole.files = filesStartingIn(db, index, 0, whole.unpackSize);
  units->push_back(whole);
}

SRes FolderDecoder::decodeFolder(const CSzArEx& db, UInt32 index, unsigned threads,
                                 ByteSink* sink) {
  const CSzAr& ar = db.db;
  CSzFolder folder;
  const Byte* coderData = nullptr;
  RINOK(readFolder(ar, index, &folder, &coderData))
  const UInt64* unpackSizes = ar.CoderUnpackSizes + ar.FoToCoderUnpackSizes[index];
  const UInt64* packPositions = ar.PackPositions + ar.FoStartPackStreamIndex[index];
  const UInt64 unpackSize = SzAr_GetFolderUnpackSize(&ar, index);
  for (UInt32 i = 0; i < folder.NumPackStreams; ++i) {
    packs_[i].open(&input_, db.dataPos + packPositions[i], packPositions[i + 1] - packPositions[i]);
  }
  auto props = [&](UInt32 coder) { return coderData + folder.Coders[coder].PropsOffset; };
  auto packSize = [&](UInt32 pack) { return packPositions[pack + 1] - packPositions[pack]; };

  const bool checkCrc = SzBitWithVals_Check(&ar.FolderCRCs, index);
  CheckingSink checking(sink, checkCrc);
  SRes result = SZ_OK;
  if (folder.NumCoders == 4) {
    // Coders 0, 1, 2 read packed streams 3, 2, 0 and give the jump, call
    // and main streams; the range coder's stream is packed stream 1.
    const UInt32 packOf[3] = {3, 2, 0};
    std::unique_ptr<ByteSource> coders[3];
    for (UInt32 i = 0; i < 3; ++i) {
      const CSzCoderInfo& c = folder.Coders[i];
      RINOK(makeMainCoder(c.MethodID, props(i), c.PropsSize, packSize(packOf[i]), unpackSizes[i],
                          &packs_[packOf[i]], &dictionaries_[i], &coders[i]))
    }
    if (unpackSizes[0] + unpackSizes[1] + unpackSizes[2] != unpackSizes[3] ||
        (unpackSizes[0] & 3) != 0 || (unpackSizes[1] & 3) != 0) {
      return SZ_ERROR_DATA;
    }
    // The main stream is nearly all of the work: with a spare processor it
    // is decoded on a thread of its own while this one joins the streams.
    ByteSource* main = coders[2].get();
    std::unique_ptr<ThreadedSource> threaded;
    if (threads > 1) {
      threaded.reset(new ThreadedSource(main));
      if (threaded->start()) main = threaded.get();
    }
    Bcj2Source bcj2(main, coders[1].get(), coders[0].get(), &packs_[1], unpackSizes[3]);
    result = pump(&bcj2, &checking);
  } else {
    FilterSink filter(&checking);
    ByteSink* target = &checking;
    if (folder.NumCoders == 2) {
      RINOK(filter.init(folder.Coders[1].MethodID, props(1), folder.Coders[1].PropsSize))
      target = &filter;
    }
    const CSzCoderInfo& main = folder.Coders[0];
    std::unique_ptr<ByteSource> source;
    RINOK(makeMainCoder(main.MethodID, props(0), main.PropsSize, packSize(0), unpackSizes[0],
                        &packs_[0], &dictionaries_[0], &source))
    result = pump(source.get(), target);
    if (result == SZ_OK && folder.NumCoders == 2) result = filter.flush();
  }
  if (result != SZ_OK) return result;
  if (checking.total() != unpackSize) return SZ_ERROR_DATA;
  if (checkCrc && checking.crc() != ar.FolderCRCs.Vals[index]) return SZ_ERROR_CRC;
  return SZ_OK;
}

}  // namespace kv
