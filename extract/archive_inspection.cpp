// Listing and test decoding for the tools: opens an archive through a
// BlockStream and decodes its folders with the extraction's FolderDecoder
// into a sink that cuts the bytes into entries and checks their CRCs.
#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>

#include "7zCrc.h"
#include "extract/archive.h"
#include "extract/block_extraction.h"
#include "extract/block_stream.h"
#include "extract/coders.h"
#include "extract/folder_decoder.h"
#include "extract/host.h"
#include "extract/pack_reader.h"
#include "extract/threads.h"

namespace kv {

static_assert(kErrorData == SZ_ERROR_DATA && kErrorMem == SZ_ERROR_MEM &&
                  kErrorCrc == SZ_ERROR_CRC && kErrorUnsupported == SZ_ERROR_UNSUPPORTED &&
                  kErrorParam == SZ_ERROR_PARAM && kErrorInputEof == SZ_ERROR_INPUT_EOF &&
                  kErrorRead == SZ_ERROR_READ && kErrorFail == SZ_ERROR_FAIL &&
                  kErrorArchive == SZ_ERROR_ARCHIVE && kErrorNoArchive == SZ_ERROR_NO_ARCHIVE,
              "the names of the decoder's results");

namespace {

constexpr uint64_t kMaxKeptContent = 1 << 20;

// Receives one folder's bytes, cuts them into its files, checks each CRC.
class FileCutter final : public ByteSink {
 public:
  FileCutter(const CSzArEx& db, const std::vector<UInt32>& files, const std::vector<bool>& keep,
             std::vector<std::string>& contents)
      : db_(db), files_(files), keep_(keep), contents_(contents) {}

  SRes write(const Byte* data, size_t size) override {
    while (size > 0) {
      if (!startFile()) {
        overrun_ = true;
        return SZ_ERROR_DATA;
      }
      const UInt32 index = files_[position_];
      const uint64_t want = SzArEx_GetFileSize(&db_, index) - done_;
      const size_t piece = want < size ? static_cast<size_t>(want) : size;
      crc_ = CrcUpdate(crc_, data, piece);
      delivered_ += piece;
      if (index < keep_.size() && keep_[index] && done_ + piece <= kMaxKeptContent)
        contents_[index].append(reinterpret_cast<const char*>(data), piece);
      done_ += piece;
      data += piece;
      size -= piece;
      if (done_ == SzArEx_GetFileSize(&db_, index)) {
        if (SzBitWithVals_Check(&db_.CRCs, index) && CRC_GET_DIGEST(crc_) != db_.CRCs.Vals[index]) {
          crcFailure_ = true;
          return SZ_ERROR_CRC;
        }
        ++position_;
        open_ = false;
        done_ = 0;
      }
    }
    return SZ_OK;
  }

  // The file being decoded (or the last one) for messages.
  UInt32 currentFile() const {
    if (files_.empty()) return BlockTest::kNoEntry;
    return files_[position_ < files_.size() ? position_ : files_.size() - 1];
  }
  bool complete() {
    if (open_) return false;
    while (position_ < files_.size() && SzArEx_GetFileSize(&db_, files_[position_]) == 0)
      ++position_;
    return position_ == files_.size();
  }
  bool crcFailure() const { return crcFailure_; }

  // The last file that the next `bytes` unpacked bytes reach into.
  UInt32 fileReached(uint64_t bytes) const {
    uint64_t offset = delivered_ - done_;  // where the current file begins
    for (size_t p = position_; p < files_.size(); ++p) {
      offset += SzArEx_GetFileSize(&db_, files_[p]);
      if (offset >= delivered_ + bytes) return files_[p];
    }
    return files_.empty() ? BlockTest::kNoEntry : files_.back();
  }
  bool overrun() const { return overrun_; }

 private:
  bool startFile() {
    if (open_) return true;
    while (position_ < files_.size() && SzArEx_GetFileSize(&db_, files_[position_]) == 0)
      ++position_;
    if (position_ >= files_.size()) return false;
    open_ = true;
    done_ = 0;
    crc_ = CRC_INIT_VAL;
    return true;
  }

  const CSzArEx& db_;
  const std::vector<UInt32>& files_;
  const std::vector<bool>& keep_;
  std::vector<std::string>& contents_;
  size_t position_ = 0;
  bool open_ = false;
  uint64_t done_ = 0;
  uint64_t delivered_ = 0;
  UInt32 crc_ = CRC_INIT_VAL;
  bool crcFailure_ = false;
  bool overrun_ = false;
};

}  // namespace

std::string methodName(uint32_t id) {
  switch (id) {
    case method::kCopy:
      return "Copy";
    case method::kDelta:
      return "Delta";
    case method::kLzma2:
      return "LZMA2";
    case method::kLzma:
      return "LZMA";
    case method::kBcj:
      return "BCJ";
    case method::kBcj2:
      return "BCJ2";
    case method::kPpmd:
      return "PPMd";
    case method::kArm64:
      return "ARM64";
    case method::kArm:
      return "ARM";
    case method::kArmt:
      return "ARMT";
    case method::kPpc:
      return "PPC";
    case method::kSparc:
      return "SPARC";
    case method::kIa64:
      return "IA64";
    case method::kRiscv:
      return "RISCV";
    case 0x40108:
      return "Deflate";
    case 0x40109:
      return "Deflate64";
    case 0x40202:
      return "BZip2";
    case kMethodAes:
      return "7zAES";
  }
  static const char hex[] = "0123456789abcdef";
  std::string text = "method 0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += hex[(id >> shift) & 0xF];
  return text;
}

bool decodesMethod(uint32_t id) { return isMainCoder(id) || isFilter(id) || id == method::kBcj2; }

int listArchive(std::FILE* file, uint32_t start, uint32_t end, ArchiveListing* listing) {
  *listing = ArchiveListing();
  BlockStream stream(file, start, end);
  Archive archive;
  const int opened = archive.open(stream.lookStream());
  if (opened != 0) return opened;
  const CSzArEx& db = archive.database();
  for (UInt32 i = 0; i < archive.entryCount(); ++i) {
    const ArchiveEntry entry = archive.entry(i);
    ListedEntry item;
    item.name = entry.name;
    item.isDirectory = entry.isDirectory;
    item.hasAttributes = entry.hasAttributes;
    item.attributes = entry.attributes;
    item.size = entry.isDirectory ? 0 : SzArEx_GetFileSize(&db, i);
    listing->entries.push_back(item);
  }
  for (UInt32 f = 0; f < db.db.NumFolders; ++f) {
    CSzData data;
    data.Data = db.db.CodersData + db.db.FoCodersOffsets[f];
    data.Size = db.db.FoCodersOffsets[f + 1] - db.db.FoCodersOffsets[f];
    CSzFolder folder;
    ListedBlock block;
    if (SzGetNextFolderItem(&folder, &data) != SZ_OK) {
      block.damaged = true;
    } else {
      for (UInt32 c = 0; c < folder.NumCoders; ++c)
        block.methods.push_back(folder.Coders[c].MethodID);
    }
    listing->blocks.push_back(block);
  }
  return 0;
}

std::vector<BlockTest> testArchive(std::FILE* file, uint32_t start, uint32_t end,
                                   const std::vector<bool>& keep,
                                   std::vector<std::string>* contents) {
  BlockStream stream(file, start, end);
  Archive archive;
  if (archive.open(stream.lookStream()) != 0) return {};
  const CSzArEx& db = archive.database();
  contents->assign(db.NumFiles, std::string());
  std::vector<std::vector<UInt32>> folderFiles(db.db.NumFolders);
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    const UInt32 folder = db.FileToFolder[i];
    if (!SzArEx_IsDir(&db, i) && folder < folderFiles.size()) folderFiles[folder].push_back(i);
  }
  ArchiveInput input(stream.seekStream());
  std::vector<BlockTest> tests(db.db.NumFolders);
  std::atomic<UInt32> next(0);
  // At most four blocks at once: each holds its dictionary.
  const unsigned processors = std::max(1u, std::min(processorCount(), 4u));
  // Few large blocks: each gets several threads (multi-block LZMA2, BCJ2).
  const unsigned threadsPerFolder =
      db.db.NumFolders == 0 ? 1 : std::max(1u, processors / db.db.NumFolders);
  struct Work {
    std::function<void()> body;
    static void run(void* self) { static_cast<Work*>(self)->body(); }
  } work;
  work.body = [&]() {
    FolderDecoder decoder(input);
    for (UInt32 f; (f = next.fetch_add(1)) < db.db.NumFolders;) {
      FileCutter cutter(db, folderFiles[f], keep, *contents);
      const SRes result = decoder.decode(db, f, threadsPerFolder, &cutter);
      BlockTest& test = tests[f];
      test.result = result;
      test.crcMismatch = cutter.crcFailure();
      // The decoder hands out its bytes in steps: damage found inside a
      // step lies in the file being cut or in one the step reaches. Read
      // before complete(), which steps over the empty files that follow.
      test.entry = cutter.currentFile();
      test.lastEntry = cutter.fileReached(kDecodeStep);
      test.damaged = cutter.overrun() || !cutter.complete();
    }
  };
  const unsigned threads = std::min(processors, db.db.NumFolders);
  {
    std::vector<std::unique_ptr<Thread>> pool;
    for (unsigned t = 1; t < threads; ++t) {
      pool.emplace_back(new Thread);
      if (!pool.back()->start(&Work::run, &work)) pool.pop_back();  // fewer threads
    }
    if (threads > 0) work.body();
  }  // the threads are joined here
  return tests;
}

uint32_t crc32(const void* data, size_t size) {
  CrcGenerateTable();
  return CrcCalc(data, size);
}

}  // namespace kv
