// Opens an archive through a BlockStream and decodes its folders with the
// extraction's FolderDecoder into a sink that cuts files and checks CRCs.
#include "tools/mkbundle/archive_check.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "7zCrc.h"
#include "extract/archive.h"
#include "extract/block_stream.h"
#include "extract/coders.h"
#include "extract/folder_decoder.h"
#include "extract/pack_reader.h"
#include "extract/safe_path.h"
#include "tools/mkbundle/tree_walk.h"

namespace mkbundle {
namespace {

constexpr uint32_t kUnixExtension = 0x8000;
constexpr UInt32 kAes = 0x6F10701;
constexpr uint64_t kMaxKeptContent = 1 << 20;

std::string methodName(UInt32 id) {
  switch (id) {
    case kv::method::kCopy:
      return "Copy";
    case kv::method::kDelta:
      return "Delta";
    case kv::method::kLzma2:
      return "LZMA2";
    case kv::method::kLzma:
      return "LZMA";
    case kv::method::kBcj:
      return "BCJ";
    case kv::method::kBcj2:
      return "BCJ2";
    case kv::method::kPpmd:
      return "PPMd";
    case kv::method::kArm64:
      return "ARM64";
    case kv::method::kArm:
      return "ARM";
    case kv::method::kArmt:
      return "ARMT";
    case kv::method::kPpc:
      return "PPC";
    case kv::method::kSparc:
      return "SPARC";
    case kv::method::kIa64:
      return "IA64";
    case kv::method::kRiscv:
      return "RISCV";
    case 0x40108:
      return "Deflate";
    case 0x40109:
      return "Deflate64";
    case 0x40202:
      return "BZip2";
    case kAes:
      return "7zAES";
  }
  static const char hex[] = "0123456789abcdef";
  std::string text = "method 0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += hex[(id >> shift) & 0xF];
  return text;
}

std::string openProblem(int result) {
  switch (result) {
    case SZ_ERROR_NO_ARCHIVE:
      return "it is not a 7z archive";
    case SZ_ERROR_UNSUPPORTED:
      return "its header uses a method the launcher cannot decode (an encrypted header, "
             "made with -mhe, is one)";
    case SZ_ERROR_CRC:
      return "its header is damaged (CRC mismatch)";
    case SZ_ERROR_INPUT_EOF:
      return "it is cut short";
    case SZ_ERROR_MEM:
      return "its header does not fit in memory";
  }
  return "the launcher cannot open it (decoder error " + std::to_string(result) + ")";
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// Receives one folder's bytes, cuts them into its files, checks each CRC.
class FileCutter final : public kv::ByteSink {
 public:
  FileCutter(const CSzArEx& db, const std::vector<UInt32>& files, std::vector<ArchiveItem>& items,
             const std::vector<bool>& keep)
      : db_(db), files_(files), items_(items), keep_(keep) {}

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
      if (keep_[index] && done_ + piece <= kMaxKeptContent)
        items_[index].content.append(reinterpret_cast<const char*>(data), piece);
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
    if (files_.empty()) return 0xFFFFFFFFu;
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
    return files_.empty() ? 0xFFFFFFFFu : files_.back();
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
  std::vector<ArchiveItem>& items_;
  const std::vector<bool>& keep_;
  size_t position_ = 0;
  bool open_ = false;
  uint64_t done_ = 0;
  uint64_t delivered_ = 0;
  UInt32 crc_ = CRC_INIT_VAL;
  bool crcFailure_ = false;
  bool overrun_ = false;
};

std::string baseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Collects the entries and the methods; problems for what cannot be decoded.
bool readHeader(kv::Archive& archive, kv::BlockStream& stream, ArchiveInfo& info) {
  info = ArchiveInfo();
  const int opened = archive.open(stream.lookStream());
  if (opened != 0) {
    info.problems.push_back(openProblem(opened));
    return false;
  }
  const CSzArEx& db = archive.database();
  for (UInt32 i = 0; i < archive.entryCount(); ++i) {
    const kv::ArchiveEntry entry = archive.entry(i);
    ArchiveItem item;
    item.path = entry.name;
    item.isDirectory = entry.isDirectory;
    item.hasMode = entry.hasAttributes && (entry.attributes & kUnixExtension) != 0;
    if (item.hasMode) item.mode = entry.attributes >> 16;
    item.size = entry.isDirectory ? 0 : SzArEx_GetFileSize(&db, i);
    info.unpackedBytes += item.size;
    info.items.push_back(item);
  }
  info.blocks = db.db.NumFolders;
  std::vector<UInt32> seen;
  for (UInt32 f = 0; f < db.db.NumFolders; ++f) {
    CSzData data;
    data.Data = db.db.CodersData + db.db.FoCodersOffsets[f];
    data.Size = db.db.FoCodersOffsets[f + 1] - db.db.FoCodersOffsets[f];
    CSzFolder folder;
    if (SzGetNextFolderItem(&folder, &data) != SZ_OK) {
      info.problems.push_back("solid block " + std::to_string(f) + " has a damaged coder record");
      continue;
    }
    for (UInt32 c = 0; c < folder.NumCoders; ++c) {
      const UInt32 id = folder.Coders[c].MethodID;
      if (std::find(seen.begin(), seen.end(), id) != seen.end()) continue;
      seen.push_back(id);
      info.methods += (info.methods.empty() ? "" : " ") + methodName(id);
      if (id == kAes) {
        info.problems.push_back("it is encrypted (7zAES); the launcher has no password to give");
      } else if (!kv::isMainCoder(id) && !kv::isFilter(id) && id != kv::method::kBcj2) {
        info.problems.push_back("it uses " + methodName(id) +
                                ", which the launcher cannot decode (it decodes Copy, LZMA, "
                                "LZMA2, PPMd, BCJ, BCJ2 and the other branch filters, Delta)");
      }
    }
  }
  return true;
}

// Names that would leave the install directory, links that would, and
// directories that stay empty (the launcher only creates parents of files).
void checkEntries(ArchiveInfo& info) {
  std::map<std::string, std::string> links;
  for (const ArchiveItem& item : info.items) {
    if (!kv::isSafeEntryName(item.path))
      info.problems.push_back("entry " + quoted(item.path) +
                              " would leave the install directory; the launcher refuses it");
    if (item.isLink()) links[item.path] = item.content;
  }
  for (const auto& link : links) {
    if (resolveInside(link.first, link.second, links).empty())
      info.problems.push_back("link " + quoted(link.first) + " -> " + quoted(link.second) +
                              " does not stay inside the install directory; the launcher "
                              "refuses such links");
  }
  std::vector<std::string> parents;
  for (const ArchiveItem& item : info.items)
    if (!item.isDirectory) parents.push_back(item.path);
  std::sort(parents.begin(), parents.end());
  for (const ArchiveItem& item : info.items) {
    if (!item.isDirectory) continue;
    const std::string prefix = item.path + "/";
    const auto below = std::lower_bound(parents.begin(), parents.end(), prefix);
    if (below == parents.end() || below->compare(0, prefix.size(), prefix) != 0)
      ++info.emptyFolders;
  }
}

void decodeAll(kv::Archive& archive, kv::BlockStream& stream, ArchiveInfo& info) {
  const CSzArEx& db = archive.database();
  std::vector<std::vector<UInt32>> folderFiles(db.db.NumFolders);
  std::vector<bool> keep(db.NumFiles, false);
  for (UInt32 i = 0; i < db.NumFiles; ++i) {
    const ArchiveItem& item = info.items[i];
    const std::string base = baseName(item.path);
    keep[i] = item.isLink() || base == ".eclipseproduct" || base.rfind("kvInstaller", 0) == 0;
    const UInt32 folder = db.FileToFolder[i];
    if (!item.isDirectory && folder < folderFiles.size()) folderFiles[folder].push_back(i);
  }
  kv::ArchiveInput input(stream.seekStream());
  std::vector<std::string> failures(db.db.NumFolders);
  std::atomic<UInt32> next(0);
  // At most four blocks at once: each holds its dictionary.
  const unsigned processors = std::max(1u, std::min(std::thread::hardware_concurrency(), 4u));
  // Few large blocks: each gets several threads (multi-block LZMA2, BCJ2).
  const unsigned threadsPerFolder =
      db.db.NumFolders == 0 ? 1 : std::max(1u, processors / db.db.NumFolders);
  auto work = [&]() {
    kv::FolderDecoder decoder(input);
    for (UInt32 f; (f = next.fetch_add(1)) < db.db.NumFolders;) {
      FileCutter cutter(db, folderFiles[f], info.items, keep);
      const SRes result = decoder.decode(db, f, threadsPerFolder, &cutter);
      // The decoder hands out its bytes in steps: damage found inside a
      // step lies in the file being cut or in one the step reaches.
      const UInt32 at = cutter.currentFile();
      const UInt32 last = cutter.fileReached(kv::kDecodeStep);
      std::string where = "solid block " + std::to_string(f);
      if (at < info.items.size()) where += ", in " + quoted(info.items[at].path);
      if (last < info.items.size() && last != at)
        where += " or a later file up to " + quoted(info.items[last].path);
      if (cutter.crcFailure()) {
        failures[f] = "CRC mismatch in " + quoted(info.items[at].path) + " (solid block " +
                      std::to_string(f) + "): the archive is damaged";
      } else if (result == SZ_ERROR_UNSUPPORTED) {
        failures[f] =
            "solid block " + std::to_string(f) + ": a coder chain the launcher cannot decode";
      } else if (result == SZ_ERROR_MEM) {
        failures[f] = "solid block " + std::to_string(f) + ": out of memory while decoding";
      } else if (result != SZ_OK || cutter.overrun() || !cutter.complete()) {
        failures[f] = "damaged data in " + where + " (" +
                      (result == SZ_ERROR_INPUT_EOF ? std::string("the block is cut short")
                                                    : "decoder error " + std::to_string(result)) +
                      ")";
      }
    }
  };
  const unsigned threads = std::min(processors, db.db.NumFolders);
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
  if (threads > 0) work();
  for (std::thread& thread : pool) thread.join();
  for (const std::string& failure : failures)
    if (!failure.empty()) info.problems.push_back(failure);
}

}  // namespace

bool ArchiveItem::isLink() const { return hasMode && S_ISLNK(mode); }

void readArchive(std::FILE* file, uint32_t start, uint32_t end, ArchiveInfo& info) {
  kv::BlockStream stream(file, start, end);
  kv::Archive archive;
  readHeader(archive, stream, info);
}

void checkArchive(std::FILE* file, uint32_t start, uint32_t end, ArchiveInfo& info) {
  kv::BlockStream stream(file, start, end);
  kv::Archive archive;
  if (!readHeader(archive, stream, info)) return;
  if (info.problems.empty()) {
    decodeAll(archive, stream, info);
    info.contentsKnown = true;
  }
  checkEntries(info);
}

std::string modeText(const ArchiveItem& item) {
  const uint32_t mode = item.hasMode ? item.mode : (item.isDirectory ? 040777u : 0100777u);
  std::string text = item.isDirectory ? "d" : item.isLink() ? "l" : "-";
  const char* letters = "rwxrwxrwx";
  for (int bit = 8; bit >= 0; --bit) text += (mode >> bit) & 1 ? letters[8 - bit] : '-';
  return text;
}

}  // namespace mkbundle
