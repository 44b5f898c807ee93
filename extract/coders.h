// The coders of a 7z folder as small streaming stages.
//
// ByteSource is a pull stage: next() hands out the following decoded bytes
// (valid until the next call; *size 0 once the coder's whole unpacked size
// was produced). The main coders (copy, LZMA, LZMA2, PPMd) read one packed
// stream; Bcj2Source joins three coder outputs and a packed stream.
// ByteSink is a push stage: FilterSink undoes a branch converter or Delta
// on the bytes pushed through it and passes them on. All stages work
// through buffers of a few hundred kilobytes; LZMA and LZMA2 decode into a
// dictionary of min(dictionary size, unpacked size) bytes that the caller
// owns, so that one worker reuses it from folder to folder.
#pragma once

#include <cstddef>
#include <memory>

#include "7zTypes.h"
#include "Bcj2.h"
#include "Bra.h"
#include "Delta.h"
#include "Lzma2Dec.h"
#include "LzmaDec.h"
#include "Ppmd7.h"
#include "extract/heap_buffer.h"
#include "extract/pack_reader.h"

namespace kv {

namespace method {
constexpr UInt32 kCopy = 0;
constexpr UInt32 kDelta = 3;
constexpr UInt32 kArm64 = 0xA;
constexpr UInt32 kRiscv = 0xB;
constexpr UInt32 kLzma2 = 0x21;
constexpr UInt32 kLzma = 0x30101;
constexpr UInt32 kBcj = 0x3030103;
constexpr UInt32 kPpc = 0x3030205;
constexpr UInt32 kIa64 = 0x3030401;
constexpr UInt32 kArm = 0x3030501;
constexpr UInt32 kArmt = 0x3030701;
constexpr UInt32 kSparc = 0x3030805;
constexpr UInt32 kPpmd = 0x30401;
constexpr UInt32 kBcj2 = 0x303011B;
}  // namespace method

// Step of one next() call of the decoders.
constexpr size_t kDecodeStep = 1 << 18;

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual SRes next(const Byte** data, size_t* size) = 0;
};

class ByteSink {
 public:
  // SZ_OK to go on; anything else ends the decoding with that result.
  virtual SRes write(const Byte* data, size_t size) = 0;

 protected:
  ~ByteSink() = default;
};

// Whether `methodId` is a main coder this decoder has (copy, LZMA, LZMA2,
// PPMd), and whether it is one of the filters (branch converters, Delta).
bool isMainCoder(UInt32 methodId);
bool isFilter(UInt32 methodId);

// The dictionary a main coder needs for `unpackSize` bytes (0 for copy and
// PPMd, whose model memory is separate: ppmdMemory()).
UInt64 dictionaryNeed(UInt32 methodId, const Byte* props, unsigned propsSize, UInt64 unpackSize);
UInt64 ppmdMemory(const Byte* props, unsigned propsSize);

// A main coder reading `input`: SZ_OK and *source, or SZ_ERROR_UNSUPPORTED
// (unknown method or properties), SZ_ERROR_MEM. With `whole`, LZMA and
// LZMA2 decode into a dictionary of all `unpackSize` bytes, so that the
// pieces next() hands out lie one after the other from its start.
SRes makeMainCoder(UInt32 methodId, const Byte* props, unsigned propsSize, UInt64 packSize,
                   UInt64 unpackSize, PackReader* input, HeapBuffer* dictionary,
                   std::unique_ptr<ByteSource>* source, bool whole = false);

// BCJ2: the main, call and jump streams from coders, the range-coder
// stream straight from a packed stream.
class Bcj2Source final : public ByteSource {
 public:
  Bcj2Source(ByteSource* main, ByteSource* call, ByteSource* jump, PackReader* rc,
             UInt64 unpackSize);
  SRes next(const Byte** data, size_t* size) override;

 private:
  // A 32-bit stream (call, jump) copied into a buffer in whole words.
  struct WordStream {
    ByteSource* source = nullptr;
    HeapBuffer buffer;
    size_t used = 0;  // valid bytes in buffer
    bool ended = false;
  };
  SRes refill(unsigned stream);
  SRes refillWords(WordStream& stream, unsigned index);

  ByteSource* main_;
  PackReader* rc_;
  WordStream words_[2];
  UInt64 left_;
  HeapBuffer out_;
  CBcj2Dec dec_{};
  bool started_ = false;
};

// Undoes one filter on the bytes pushed through it, then pushes them on.
class FilterSink final : public ByteSink {
 public:
  explicit FilterSink(ByteSink* next) : next_(next) {}
  // SZ_ERROR_UNSUPPORTED for an unknown filter or bad properties.
  SRes init(UInt32 methodId, const Byte* props, unsigned propsSize);
  SRes write(const Byte* data, size_t size) override;
  // Passes on the bytes kept back at the end of the stream.
  SRes flush();

 private:
  size_t convert(Byte* data, size_t size);

  ByteSink* next_;
  UInt32 method_ = 0;
  UInt32 pc_ = 0;
  UInt32 x86State_ = Z7_BRANCH_CONV_ST_X86_STATE_INIT_VAL;
  unsigned delta_ = 0;
  Byte deltaState_[DELTA_STATE_SIZE] = {};
  HeapBuffer buffer_;
  size_t used_ = 0;
};

}  // namespace kv
