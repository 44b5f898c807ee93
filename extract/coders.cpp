#include "extract/coders.h"

#include <cstring>

#include "base/little_endian.h"
#include "extract/archive.h"

namespace kv {

namespace {

constexpr UInt32 kLzmaMinDictionary = 1 << 12;

UInt64 lzma2Dictionary(Byte prop) {
  if (prop >= 40) return 0xFFFFFFFFu;
  return static_cast<UInt64>(2 | (prop & 1)) << (prop / 2 + 11);
}

// The buffer size of a dictionary: never more than the stream unpacks to.
size_t dictionaryBufferSize(UInt64 dictionary, UInt64 unpackSize) {
  UInt64 size = dictionary < unpackSize ? dictionary : unpackSize;
  if (size == 0) size = 1;
  return static_cast<size_t>(size);
}

class CopySource final : public ByteSource {
 public:
  CopySource(PackReader* input, UInt64 size) : input_(input), left_(size) {}
  SRes next(const Byte** data, size_t* size) override {
    *size = 0;
    if (left_ == 0) return SZ_OK;
    size_t available = 0;
    RINOK(input_->look(data, &available))
    if (available == 0) return SZ_ERROR_DATA;
    if (available > left_) available = static_cast<size_t>(left_);
    input_->skip(available);
    left_ -= available;
    *size = available;
    return SZ_OK;
  }

 private:
  PackReader* input_;
  UInt64 left_;
};

// LZMA and LZMA2: decodes into the dictionary and hands out the new part.
class LzmaSource final : public ByteSource {
 public:
  LzmaSource(bool lzma2, PackReader* input, UInt64 unpackSize)
      : lzma2_(lzma2), input_(input), left_(unpackSize) {
    LzmaDec_CONSTRUCT(&lzma_) Lzma2Dec_CONSTRUCT(&lzma2Dec_)
  }
  ~LzmaSource() override {
    if (lzma2_) {
      Lzma2Dec_FreeProbs(&lzma2Dec_, heapAllocator());
    } else {
      LzmaDec_FreeProbs(&lzma_, heapAllocator());
    }
  }

  SRes init(const Byte* props, unsigned propsSize, HeapBuffer* dictionary, bool whole) {
    UInt64 need = 0;
    if (lzma2_) {
      if (propsSize != 1 || props[0] > 40) return SZ_ERROR_UNSUPPORTED;
      RINOK(Lzma2Dec_AllocateProbs(&lzma2Dec_, props[0], heapAllocator()))
      need = lzma2Dictionary(props[0]);
    } else {
      RINOK(LzmaDec_AllocateProbs(&lzma_, props, propsSize, heapAllocator()))
      need = lzma_.prop.dicSize < kLzmaMinDictionary ? kLzmaMinDictionary : lzma_.prop.dicSize;
    }
    if (whole) need = left_;
    const UInt64 wanted = need < left_ ? need : left_;
    if (wanted != static_cast<size_t>(wanted)) return SZ_ERROR_MEM;
    const size_t size = dictionaryBufferSize(need, left_);
    if (!dictionary->reserve(size)) return SZ_ERROR_MEM;
    CLzmaDec& dec = decoder();
    dec.dic = dictionary->data();
    dec.dicBufSize = size;
    if (lzma2_) {
      Lzma2Dec_Init(&lzma2Dec_);
    } else {
      LzmaDec_Init(&lzma_);
    }
    return SZ_OK;
  }

  SRes next(const Byte** data, size_t* size) override {
    *size = 0;
    if (left_ == 0) return SZ_OK;
    CLzmaDec& dec = decoder();
    if (dec.dicPos == dec.dicBufSize) dec.dicPos = 0;
    const SizeT start = dec.dicPos;
    SizeT want = dec.dicBufSize - start;
    if (want > kDecodeStep) want = kDecodeStep;
    if (want > left_) want = static_cast<SizeT>(left_);
    const SizeT limit = start + want;
    const ELzmaFinishMode finish = want == left_ ? LZMA_FINISH_END : LZMA_FINISH_ANY;
    while (dec.dicPos < limit) {
      const Byte* in = nullptr;
      size_t inSize = 0;
      RINOK(input_->look(&in, &inSize))
      SizeT used = inSize;
      const SizeT before = dec.dicPos;
      ELzmaStatus status;
      const SRes result = lzma2_
                              ? Lzma2Dec_DecodeToDic(&lzma2Dec_, limit, in, &used, finish, &status)
                              : LzmaDec_DecodeToDic(&lzma_, limit, in, &used, finish, &status);
      input_->skip(used);
      if (result != SZ_OK) return result;
      if (dec.dicPos == limit) break;
      // The stream ended, or stalled, before its unpacked size.
      if (status == LZMA_STATUS_FINISHED_WITH_MARK) return SZ_ERROR_DATA;
      if (used == 0 && dec.dicPos == before) return SZ_ERROR_DATA;
    }
    *data = dec.dic + start;
    *size = want;
    left_ -= want;
    return SZ_OK;
  }

 private:
  CLzmaDec& decoder() { return lzma2_ ? lzma2Dec_.decoder : lzma_; }

  bool lzma2_;
  PackReader* input_;
  UInt64 left_;
  CLzmaDec lzma_;
  CLzma2Dec lzma2Dec_;
};

class PpmdSource final : public ByteSource {
 public:
  PpmdSource(PackReader* input, UInt64 unpackSize) : left_(unpackSize) {
    reader_.vt.Read = &PpmdSource::readByte;
    reader_.input = input;
    Ppmd7_Construct(&ppmd_);
  }
  ~PpmdSource() override { Ppmd7_Free(&ppmd_, heapAllocator()); }

  SRes init(const Byte* props, unsigned propsSize) {
    if (propsSize != 5) return SZ_ERROR_UNSUPPORTED;
    const unsigned order = props[0];
    const UInt32 memory = readLe32(props + 1);
    if (order < PPMD7_MIN_ORDER || order > PPMD7_MAX_ORDER || memory < PPMD7_MIN_MEM_SIZE ||
        memory > PPMD7_MAX_MEM_SIZE) {
      return SZ_ERROR_UNSUPPORTED;
    }
    if (!Ppmd7_Alloc(&ppmd_, memory, heapAllocator())) return SZ_ERROR_MEM;
    Ppmd7_Init(&ppmd_, order);
    if (!out_.reserve(kDecodeStep)) return SZ_ERROR_MEM;
    ppmd_.rc.dec.Stream = &reader_.vt;
    if (!Ppmd7z_RangeDec_Init(&ppmd_.rc.dec)) return SZ_ERROR_DATA;
    return reader_.extra ? failure() : SZ_OK;
  }

  SRes next(const Byte** data, size_t* size) override {
    *size = 0;
    if (left_ == 0) return SZ_OK;
    size_t want = kDecodeStep;
    if (want > left_) want = static_cast<size_t>(left_);
    Byte* out = out_.data();
    for (size_t i = 0; i < want; ++i) {
      const int symbol = Ppmd7z_DecodeSymbol(&ppmd_);
      if (reader_.extra || symbol < 0) return failure();
      out[i] = static_cast<Byte>(symbol);
    }
    left_ -= want;
    if (left_ == 0 && !Ppmd7z_RangeDec_IsFinishedOK(&ppmd_.rc.dec)) return SZ_ERROR_DATA;
    *data = out;
    *size = want;
    return SZ_OK;
  }

 private:
  struct Reader {
    IByteIn vt;
    PackReader* input;
    bool extra = false;
    SRes result = SZ_OK;
  };

  static Byte readByte(IByteInPtr p) {
    Reader* reader = const_cast<Reader*>(reinterpret_cast<const Reader*>(p));
    const Byte* data = nullptr;
    size_t size = 0;
    if (!reader->extra) {
      reader->result = reader->input->look(&data, &size);
      if (reader->result == SZ_OK && size > 0) {
        reader->input->skip(1);
        return data[0];
      }
    }
    reader->extra = true;
    return 0;
  }

  SRes failure() const { return reader_.result != SZ_OK ? reader_.result : SZ_ERROR_DATA; }

  Reader reader_;
  UInt64 left_;
  CPpmd7 ppmd_;
  HeapBuffer out_;
};

}  // namespace

bool isMainCoder(UInt32 methodId) {
  return methodId == method::kCopy || methodId == method::kLzma || methodId == method::kLzma2 ||
         methodId == method::kPpmd;
}

bool isFilter(UInt32 methodId) {
  switch (methodId) {
    case method::kDelta:
    case method::kBcj:
    case method::kPpc:
    case method::kIa64:
    case method::kSparc:
    case method::kArm:
    case method::kArmt:
    case method::kArm64:
    case method::kRiscv:
      return true;
    default:
      return false;
  }
}

UInt64 dictionaryNeed(UInt32 methodId, const Byte* props, unsigned propsSize, UInt64 unpackSize) {
  UInt64 dictionary = 0;
  if (methodId == method::kLzma2 && propsSize == 1) {
    dictionary = lzma2Dictionary(props[0]);
  } else if (methodId == method::kLzma && propsSize == 5) {
    dictionary = readLe32(props + 1);
    if (dictionary < kLzmaMinDictionary) dictionary = kLzmaMinDictionary;
  } else {
    return 0;
  }
  return dictionary < unpackSize ? dictionary : unpackSize;
}

UInt64 ppmdMemory(const Byte* props, unsigned propsSize) {
  return propsSize == 5 ? readLe32(props + 1) : 0;
}

SRes makeMainCoder(UInt32 methodId, const Byte* props, unsigned propsSize, UInt64 packSize,
                   UInt64 unpackSize, PackReader* input, HeapBuffer* dictionary,
                   std::unique_ptr<ByteSource>* source, bool whole) {
  switch (methodId) {
    case method::kCopy:
      if (packSize != unpackSize) return SZ_ERROR_DATA;
      source->reset(new CopySource(input, unpackSize));
      return SZ_OK;
    case method::kLzma:
    case method::kLzma2: {
      std::unique_ptr<LzmaSource> lzma(
          new LzmaSource(methodId == method::kLzma2, input, unpackSize));
      RINOK(lzma->init(props, propsSize, dictionary, whole))
      *source = std::move(lzma);
      return SZ_OK;
    }
    case method::kPpmd: {
      std::unique_ptr<PpmdSource> ppmd(new PpmdSource(input, unpackSize));
      RINOK(ppmd->init(props, propsSize))
      *source = std::move(ppmd);
      return SZ_OK;
    }
    default:
      return SZ_ERROR_UNSUPPORTED;
  }
}

// ------------------------------------------------------------------ BCJ2 --

Bcj2Source::Bcj2Source(ByteSource* main, ByteSource* call, ByteSource* jump, PackReader* rc,
                       UInt64 unpackSize)
    : main_(main), rc_(rc), left_(unpackSize) {
  words_[0].source = call;
  words_[1].source = jump;
  Bcj2Dec_Init(&dec_);
  for (unsigned i = 0; i < BCJ2_NUM_STREAMS; ++i) dec_.bufs[i] = dec_.lims[i] = nullptr;
}

SRes Bcj2Source::refillWords(WordStream& stream, unsigned index) {
  // Whatever is left (fewer than four bytes) moves to the front.
  const size_t consumed = static_cast<size_t>(dec_.bufs[index] - stream.buffer.data());
  const size_t rest = stream.used - consumed;
  if (rest > 0) std::memmove(stream.buffer.data(), stream.buffer.data() + consumed, rest);
  stream.used = rest;
  while (stream.used < 4 && !stream.ended) {
    const Byte* data = nullptr;
    size_t size = 0;
    RINOK(stream.source->next(&data, &size))
    if (size == 0) {
      stream.ended = true;
      break;
    }
    // The coder's piece is at most kDecodeStep bytes.
    std::memcpy(stream.buffer.data() + stream.used, data, size);
    stream.used += size;
  }
  dec_.bufs[index] = stream.buffer.data();
  dec_.lims[index] = stream.buffer.data() + (stream.used & ~static_cast<size_t>(3));
  return dec_.bufs[index] == dec_.lims[index] ? SZ_ERROR_DATA : SZ_OK;
}

SRes Bcj2Source::refill(unsigned stream) {
  const Byte* data = nullptr;
  size_t size = 0;
  switch (stream) {
    case BCJ2_STREAM_MAIN:
      RINOK(main_->next(&data, &size))
      break;
    case BCJ2_STREAM_RC:
      rc_->skip(static_cast<size_t>(dec_.bufs[BCJ2_STREAM_RC] - dec_.lims[BCJ2_STREAM_RC]) + 0);
      RINOK(rc_->look(&data, &size))
      rc_->skip(size);
      break;
    case BCJ2_STREAM_CALL:
      return refillWords(words_[0], BCJ2_STREAM_CALL);
    case BCJ2_STREAM_JUMP:
      return refillWords(words_[1], BCJ2_STREAM_JUMP);
    default:
      return SZ_ERROR_DATA;
  }
  if (size == 0) return SZ_ERROR_DATA;
  dec_.bufs[stream] = data;
  dec_.lims[stream] = data + size;
  return SZ_OK;
}

SRes Bcj2Source::next(const Byte** data, size_t* size) {
  *size = 0;
  if (left_ == 0) return SZ_OK;
  if (!started_) {
    for (WordStream& words : words_) {
      if (!words.buffer.reserve(kDecodeStep + 4)) return SZ_ERROR_MEM;
      words.used = 0;
    }
    if (!out_.reserve(kDecodeStep)) return SZ_ERROR_MEM;
    dec_.bufs[BCJ2_STREAM_CALL] = dec_.lims[BCJ2_STREAM_CALL] = words_[0].buffer.data();
    dec_.bufs[BCJ2_STREAM_JUMP] = dec_.lims[BCJ2_STREAM_JUMP] = words_[1].buffer.data();
    started_ = true;
  }
  size_t want = kDecodeStep;
  if (want > left_) want = static_cast<size_t>(left_);
  dec_.dest = out_.data();
  dec_.destLim = out_.data() + want;
  while (dec_.dest != dec_.destLim) {
    RINOK(Bcj2Dec_Decode(&dec_))
    if (dec_.dest == dec_.destLim) break;
    if (dec_.state >= BCJ2_NUM_STREAMS) return SZ_ERROR_DATA;
    RINOK(refill(dec_.state))
  }
  left_ -= want;
  if (left_ == 0 && !Bcj2Dec_IsMaybeFinished_code(&dec_)) return SZ_ERROR_DATA;
  *data = out_.data();
  *size = want;
  return SZ_OK;
}

// --------------------------------------------------------------- filters --

SRes FilterSink::init(UInt32 methodId, const Byte* props, unsigned propsSize) {
  if (!isFilter(methodId)) return SZ_ERROR_UNSUPPORTED;
  method_ = methodId;
  pc_ = 0;
  if (methodId == method::kDelta) {
    if (propsSize != 1) return SZ_ERROR_UNSUPPORTED;
    delta_ = static_cast<unsigned>(props[0]) + 1;
    Delta_Init(deltaState_);
  } else if (methodId == method::kArm64 || methodId == method::kRiscv) {
    if (propsSize == 4) {
      pc_ = readLe32(props);
      if (pc_ & (methodId == method::kArm64 ? 3u : 1u)) return SZ_ERROR_UNSUPPORTED;
    } else if (propsSize != 0) {
      return SZ_ERROR_UNSUPPORTED;
    }
  } else if (propsSize != 0) {
    return SZ_ERROR_UNSUPPORTED;
  }
  return buffer_.reserve(kDecodeStep + 64) ? SZ_OK : SZ_ERROR_MEM;
}

size_t FilterSink::convert(Byte* data, size_t size) {
  Byte* end = data;
  switch (method_) {
    case method::kDelta:
      Delta_Decode(deltaState_, delta_, data, size);
      return size;
    case method::kBcj:
      end = z7_BranchConvSt_X86_Dec(data, size, pc_, &x86State_);
      break;
    case method::kPpc:
      end = Z7_BRANCH_CONV_DEC_2(BranchConv_PPC)(data, size, pc_);
      break;
    case method::kIa64:
      end = Z7_BRANCH_CONV_DEC(IA64)(data, size, pc_);
      break;
    case method::kSparc:
      end = Z7_BRANCH_CONV_DEC(SPARC)(data, size, pc_);
      break;
    case method::kArm:
      end = Z7_BRANCH_CONV_DEC(ARM)(data, size, pc_);
      break;
    case method::kArmt:
      end = Z7_BRANCH_CONV_DEC(ARMT)(data, size, pc_);
      break;
    case method::kArm64:
      end = z7_BranchConv_ARM64_Dec(data, size, pc_);
      break;
    case method::kRiscv:
      end = z7_BranchConv_RISCV_Dec(data, size, pc_);
      break;
    default:
      break;
  }
  const size_t processed = static_cast<size_t>(end - data);
  pc_ += static_cast<UInt32>(processed);
  return processed;
}

SRes FilterSink::write(const Byte* data, size_t size) {
  const size_t capacity = buffer_.capacity();
  while (size > 0) {
    size_t piece = capacity - used_;
    if (piece > size) piece = size;
    std::memcpy(buffer_.data() + used_, data, piece);
    used_ += piece;
    data += piece;
    size -= piece;
    const size_t done = convert(buffer_.data(), used_);
    if (done > 0) {
      RINOK(next_->write(buffer_.data(), done))
      used_ -= done;
      if (used_ > 0) std::memmove(buffer_.data(), buffer_.data() + done, used_);
    } else if (used_ == capacity) {
      // Cannot happen with look-aheads of a few bytes; pass on unchanged.
      RINOK(next_->write(buffer_.data(), used_))
      used_ = 0;
    }
  }
  return SZ_OK;
}

SRes FilterSink::flush() {
  if (used_ == 0) return SZ_OK;
  // The last few bytes stay as they are, as in the whole-buffer converters.
  const size_t done = convert(buffer_.data(), used_);
  (void)done;
  const SRes result = next_->write(buffer_.data(), used_);
  used_ = 0;
  return result;
}

}  // namespace kv
