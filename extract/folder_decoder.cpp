#include "extract/folder_decoder.h"

#include <memory>

#include "7zCrc.h"
#include "Lzma2DecMt.h"
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
    return f.NumPackStreams == 1 && f.PackStreams[0] == 0 && f.NumBonds == 0
               ? SZ_OK
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
    const bool layout =
        mainCoder(f.Coders[1]) && mainCoder(f.Coders[2]) &&
        f.Coders[3].MethodID == method::kBcj2 && f.Coders[3].NumStreams == 4 &&
        f.NumPackStreams == 4 && f.PackStreams[0] == 2 && f.PackStreams[1] == 6 &&
        f.PackStreams[2] == 1 && f.PackStreams[3] == 0 && f.NumBonds == 3 &&
        f.Bonds[0].InIndex == 5 && f.Bonds[0].OutIndex == 0 && f.Bonds[1].InIndex == 4 &&
        f.Bonds[1].OutIndex == 1 && f.Bonds[2].InIndex == 3 && f.Bonds[2].OutIndex == 2;
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

// The SDK's multi-threaded LZMA2 decoder writes through this.
struct OutView {
  ISeqOutStream vt;
  ByteSink* sink;
  SRes result;

  static size_t write(ISeqOutStreamPtr p, const void* data, size_t size) {
    OutView* self = const_cast<OutView*>(reinterpret_cast<const OutView*>(p));
    if (self->result != SZ_OK) return 0;
    self->result = self->sink->write(static_cast<const Byte*>(data), size);
    return self->result == SZ_OK ? size : 0;
  }
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

SRes FolderDecoder::decodeThreaded(Byte prop, UInt64 unpackSize, unsigned threads,
                                   PackReader* input, ByteSink* sink) {
  CLzma2DecMtHandle decoder = Lzma2DecMt_Create(heapAllocator(), heapAllocator());
  if (!decoder) return SZ_ERROR_MEM;
  CLzma2DecMtProps props;
  Lzma2DecMtProps_Init(&props);
  props.numThreads = threads;
  props.outBlockMax = kMaxThreadedBlock;
  props.inBlockMax = kMaxThreadedBlock + kMaxThreadedBlock / 16;
  OutView out{{&OutView::write}, sink, SZ_OK};
  UInt64 inProcessed = 0;
  int isMt = 0;
  SRes result = Lzma2DecMt_Decode(decoder, prop, &props, &out.vt, &unpackSize, 1,
                                  input->seqStream(), &inProcessed, &isMt, nullptr);
  Lzma2DecMt_Destroy(decoder);
  if (out.result != SZ_OK) return out.result;
  return result;
}

SRes FolderDecoder::decode(const CSzArEx& db, UInt32 index, unsigned threads, ByteSink* sink) {
  const SRes result = decodeFolder(db, index, threads, sink);
  // Large dictionaries go back to the heap: the memory budget counts only
  // the folders being decoded. Small ones serve the next folder.
  for (HeapBuffer& dictionary : dictionaries_) {
    if (dictionary.capacity() > kKeptDictionary) dictionary.release();
  }
  return result;
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
    packs_[i].open(&input_, db.dataPos + packPositions[i],
                   packPositions[i + 1] - packPositions[i]);
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
    if (main.MethodID == method::kLzma2 && threads > 1 && main.PropsSize == 1) {
      result = decodeThreaded(props(0)[0], unpackSizes[0], threads, &packs_[0], target);
    } else {
      std::unique_ptr<ByteSource> source;
      RINOK(makeMainCoder(main.MethodID, props(0), main.PropsSize, packSize(0), unpackSizes[0],
                          &packs_[0], &dictionaries_[0], &source))
      result = pump(source.get(), target);
    }
    if (result == SZ_OK && folder.NumCoders == 2) result = filter.flush();
  }
  if (result != SZ_OK) return result;
  if (checking.total() != unpackSize) return SZ_ERROR_DATA;
  if (checkCrc && checking.crc() != ar.FolderCRCs.Vals[index]) return SZ_ERROR_CRC;
  return SZ_OK;
}

}  // namespace kv
