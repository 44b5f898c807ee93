// The extraction of an arbitrary block into a scratch folder. A run may
// write only inside that folder, files are capped at 16 MB and single
// allocations at 64 MB (fuzz_support.cpp); progress must follow its
// contract and the result must be 0 or one of the decoder's named results.
#include <cstdint>

#include "base/fs.h"
#include "base/progress.h"
#include "extract/block_extraction.h"
#include "extract/block_stream.h"
#include "extract/extract_archive.h"
#include "fuzz/fuzz_support.h"

namespace {

class CheckedProgress : public kv::IProgress {
 public:
  void start(int total) override {
    KV_FUZZ_CHECK(starts_ == 0 && total >= 0);
    ++starts_;
    total_ = total;
  }
  void update(int done) override {
    KV_FUZZ_CHECK(starts_ == 1 && finishes_ == 0);
    KV_FUZZ_CHECK(done == done_ + 1 && done <= total_);
    done_ = done;
  }
  void finish() override {
    KV_FUZZ_CHECK(starts_ == 1 && finishes_ == 0);
    ++finishes_;
  }
  int starts_ = 0;
  int finishes_ = 0;
  int total_ = 0;
  int done_ = 0;
};

bool knownResult(int result) {
  switch (result) {
    case 0:
    case kv::kErrorData:
    case kv::kErrorMem:
    case kv::kErrorCrc:
    case kv::kErrorUnsupported:
    case kv::kErrorParam:
    case kv::kErrorInputEof:
    case kv::kErrorRead:
    case kv::kErrorFail:  // output file, refused entry, seek
    case kv::kErrorArchive:
    case kv::kErrorNoArchive:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kvfuzz::Scratch scratch("extract");
  kv::FilePtr file = kvfuzz::openBytes(data, size);
  KV_FUZZ_CHECK(file != nullptr);
  CheckedProgress progress;
  int result;
  {
    kv::BlockStream stream(file.get(), 0, static_cast<uint32_t>(size));
    result = kv::extractArchive(scratch.target() + "/install", &progress, stream);
  }
  if (!knownResult(result)) {
    std::fprintf(stderr, "unexpected extraction result %d\n", result);
    std::abort();
  }
  KV_FUZZ_CHECK(progress.starts_ == progress.finishes_);
  if (result == 0 && progress.starts_ == 1) KV_FUZZ_CHECK(progress.done_ == progress.total_);
  // Nothing beside the install folder: no entry climbed out of it.
  kv::fs::DirectoryReader target(scratch.target());
  std::string name;
  while (target.next(name)) KV_FUZZ_CHECK(name == "." || name == ".." || name == "install");
  target.close();
  scratch.checkAndClear();
  return 0;
}
