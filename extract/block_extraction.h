// The extraction as the rest of the launcher and its tools see it: a 7z
// archive held in the bytes [start, end) of a file, extracted to a
// directory, measured, or (for mkbundle) listed and test-decoded. No
// decoder type appears here; everything behind it (the block stream, the
// LZMA SDK, the decoding threads, the file output) stays inside extract/.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/progress.h"

namespace kv {

// Writes every file entry of the archive below `targetDir`, as
// extractArchive() does (extract_archive.h): 0 when every file was
// written, else the decoder's SZ_ERROR_* result (SZ_ERROR_MEM 2,
// SZ_ERROR_CRC 3, SZ_ERROR_UNSUPPORTED 4, SZ_ERROR_INPUT_EOF 6,
// SZ_ERROR_ARCHIVE 16, SZ_ERROR_NO_ARCHIVE 17, ...) or 11 (SZ_ERROR_FAIL)
// for an output file or a refused entry; the number is shown to the user.
// `progress` may be null.
int extractBlock(std::FILE* file, uint32_t start, uint32_t end, const std::string& targetDir,
                 IProgress* progress);
// The same, with the failure's line (naming the file or entry, and why) in
// *failure instead of on standard output; "" when there is none.
int extractBlock(std::FILE* file, uint32_t start, uint32_t end, const std::string& targetDir,
                 IProgress* progress, std::string* failure);

// How many files (entries that are not directories) the archive holds, and
// how many bytes they unpack to, read from the archive's header only:
// nothing is unpacked. Lets a progress window show one bar across several
// archives. False (and nothing set) when the block does not open as a 7z
// archive.
bool measureArchive(std::FILE* file, uint32_t start, uint32_t end, int& files, uint64_t& bytes);

// The decoder's results by name (the SDK's SZ_ERROR_* numbers).
constexpr int kErrorData = 1;
constexpr int kErrorMem = 2;
constexpr int kErrorCrc = 3;
constexpr int kErrorUnsupported = 4;
constexpr int kErrorParam = 5;
constexpr int kErrorInputEof = 6;
constexpr int kErrorRead = 8;
constexpr int kErrorFail = 11;
constexpr int kErrorArchive = 16;
constexpr int kErrorNoArchive = 17;

// 7z method ids (main coders, filters, and others a tool may meet).
constexpr uint32_t kMethodAes = 0x6F10701;
// A name for messages: "LZMA2", "BCJ", "7zAES", ..., else "method 0x…".
std::string methodName(uint32_t id);
// Whether the launcher decodes the method: a main coder (copy, LZMA,
// LZMA2, PPMd), a filter (branch converters, Delta), or BCJ2.
// What decodesMethod() accepts, in words for every message that lists it.
constexpr char kDecodedMethods[] =
    "Copy, LZMA, LZMA2 and PPMd, with the filters BCJ, BCJ2, ARM, ARMT, ARM64, PPC, IA64, "
    "SPARC, RISCV and Delta";
bool decodesMethod(uint32_t id);

// One entry of an archive as its header gives it.
struct ListedEntry {
  std::string name;  // UTF-8, "/" between components
  bool isDirectory = false;
  bool hasAttributes = false;
  uint32_t attributes = 0;  // Windows attributes; 0x8000: a Unix mode in the high 16 bits
  uint64_t size = 0;
};

// The coders of one solid block (folder), or that its record is damaged.
struct ListedBlock {
  bool damaged = false;
  std::vector<uint32_t> methods;
};

struct ArchiveListing {
  std::vector<ListedEntry> entries;  // archive order
  std::vector<ListedBlock> blocks;
};

// Reads the header only: 0, or the decoder's result (kErrorNoArchive,
// kErrorUnsupported for an encrypted header, kErrorCrc, kErrorInputEof,
// kErrorMem, ...).
int listArchive(std::FILE* file, uint32_t start, uint32_t end, ArchiveListing* listing);

// How the test decode of one block ended.
struct BlockTest {
  static constexpr uint32_t kNoEntry = 0xFFFFFFFFu;
  int result = 0;            // 0, or the decoder's result
  bool crcMismatch = false;  // an entry's bytes did not match its CRC (at `entry`)
  bool damaged = false;      // more or fewer bytes than the entries hold
  // Where a failure lies: the entry being decoded, and the last one the
  // decoder's step of bytes reaches into (damage may lie anywhere up to it).
  uint32_t entry = kNoEntry;
  uint32_t lastEntry = kNoEntry;
  bool ok() const { return result == 0 && !crcMismatch && !damaged; }
};

// Decodes every block, on up to four processors, checking every entry's
// CRC; nothing is written. The first MiB of every entry marked in `keep`
// (one flag per entry, archive order) goes to (*contents)[entry]. One
// BlockTest per block; empty when the archive does not open.
std::vector<BlockTest> testArchive(std::FILE* file, uint32_t start, uint32_t end,
                                   const std::vector<bool>& keep,
                                   std::vector<std::string>* contents);

// The extraction's first rule for an entry name: whether it stays below
// the target directory on every host (no "..", nothing absolute, no drive).
bool isSafeEntryName(const std::string& name);

// The CRC-32 of 7z archives (and zip, PNG, ...).
uint32_t crc32(const void* data, size_t size);

}  // namespace kv
