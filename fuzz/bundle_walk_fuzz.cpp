// The bundle walk over arbitrary file bytes, once with every handler. Checks
// that each descriptor handed out lies inside the file with start <= end and
// that walks move strictly backwards; that the argument fetch fills every
// slot it counted; that the extraction reports progress in order and writes
// only inside its folder.
#include <cstdint>
#include <vector>

#include "base/fs.h"
#include "base/progress.h"
#include "core/bundle.h"
#include "core/embedded_arguments.h"
#include "core/host_rules.h"
#include "core/install_check.h"
#include "core/payload_extraction.h"
#include "core/release_line.h"
#include "core/version_check.h"
#include "fuzz/fuzz_support.h"
#include "platform/linux/logo_extractor.h"

namespace {

// Checks every descriptor, then hands it to the real handler.
class CheckedHandler : public kv::TagHandler {
 public:
  CheckedHandler(kv::TagHandler& inner, int64_t fileSize) : inner_(inner), size_(fileSize) {}
  bool visit(std::FILE* file, const kv::BlockDescriptor& block) override {
    KV_FUZZ_CHECK(block.start <= block.end);
    KV_FUZZ_CHECK(static_cast<int64_t>(block.end) + kv::kFooterSize <= size_);
    KV_FUZZ_CHECK(block.magic[0] == 'k' && block.magic[1] == 'v' && block.magic[2] == 'i');
    if (visits_ > 0)
      KV_FUZZ_CHECK(block.end < lastEnd_ && block.end + kv::kFooterSize <= lastStart_);
    lastEnd_ = block.end;
    lastStart_ = block.start;
    ++visits_;
    return inner_.visit(file, block);
  }
  int visits() const { return visits_; }

 private:
  kv::TagHandler& inner_;
  int64_t size_;
  int visits_ = 0;
  uint32_t lastEnd_ = 0;
  uint32_t lastStart_ = 0;
};

// The contract of IProgress: start once, updates counting up by one, then
// finish once.
class CheckedProgress : public kv::IProgress {
 public:
  void start(int total) override {
    KV_FUZZ_CHECK(!started_ || finished_);
    KV_FUZZ_CHECK(total >= 0);
    started_ = true;
    finished_ = false;
    total_ = total;
    done_ = 0;
  }
  void update(int done) override {
    KV_FUZZ_CHECK(started_ && !finished_);
    KV_FUZZ_CHECK(done == done_ + 1 && done <= total_);
    done_ = done;
  }
  void finish() override {
    KV_FUZZ_CHECK(started_ && !finished_);
    finished_ = true;
  }
  bool balanced() const { return !started_ || finished_; }

 private:
  bool started_ = false;
  bool finished_ = false;
  int total_ = 0;
  int done_ = 0;
};

bool walk(std::FILE* file, kv::TagHandler& handler, int64_t size, int64_t endOffset) {
  CheckedHandler checked(handler, size);
  return kv::walkBundleFrom(file, checked, endOffset);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kvfuzz::Scratch scratch("bundle");
  kvfuzz::releaseKeptTexts();
  kv::FilePtr file = kvfuzz::openBytes(data, size);
  KV_FUZZ_CHECK(file != nullptr);
  const int64_t fileSize = static_cast<int64_t>(size);
  const kv::HostRules& rules = kv::kLinuxHost;
  const std::string& dir = scratch.target();

  // A signed Windows launcher ends its bundle before the certificate table.
  kv::ArgCounter signedCounter;
  walk(file.get(), signedCounter, fileSize, -8 - (size > 0 ? data[0] : 0));

  kv::ArgCounter counter;
  const bool found = walk(file.get(), counter, fileSize, -8);
  if (!found) KV_FUZZ_CHECK(counter.count == 0);
  if (counter.count > 0) {
    std::vector<const char*> args;
    kv::ArgFetcher fetcher(counter.count, args);
    walk(file.get(), fetcher, fileSize, -8);
    KV_FUZZ_CHECK(args.size() == static_cast<size_t>(counter.count));
    for (const char* text : args) KV_FUZZ_CHECK(text != nullptr);
  }

  kv::RelPrinter printer;
  KV_FUZZ_CHECK(walk(file.get(), printer, fileSize, -8) == found);

  kv::InstallCheckHandler installCheck(dir, rules);
  KV_FUZZ_CHECK(walk(file.get(), installCheck, fileSize, -8) == found);

  kv::LogoExtractor logo(dir + "/logo.png");
  KV_FUZZ_CHECK(walk(file.get(), logo, fileSize, -8) == found);

  kv::VersionCheckHandler versionCheck(dir, rules);
  KV_FUZZ_CHECK(walk(file.get(), versionCheck, fileSize, -8) == found);
  if (found) {
    CheckedProgress progress;
    kv::PayloadHandler payload(versionCheck, &progress);
    KV_FUZZ_CHECK(walk(file.get(), payload, fileSize, -8));
    KV_FUZZ_CHECK(progress.balanced());
  }
  scratch.checkAndClear();
  return 0;
}
