// The bundle appended to a launcher executable, and the walk over it.
//
// Layout (all integers little-endian):
//
//   [executable image][block 1][block 2]...[block N]([certificate table])
//
// Each block is its data followed by an 8-byte footer:
//
//   offset 0, 4 bytes: start - absolute file offset of the block's first data byte
//   offset 4, 3 bytes: "kvi"
//   offset 7, 1 byte:  tag  - the block's kind
//
// The data runs from `start` up to the footer. Shipped blocks are zero-padded
// to a multiple of 8 bytes. There is no header and no index: the chain is
// found from the last footer, which ends where the bundle ends (the end of the
// file on Linux, the start of the Authenticode certificate table on Windows),
// and followed backwards through each footer's `start`.
//
// Tags: 'l' logo PNG (Linux), 'v' properties text (version=, name=, id=),
// 'i' installer 7z, 'j' Java runtime 7z, 'r' release id text, 'a' one embedded
// argument, 'p' payload 7z. Shipped order in the file: Linux l v i j r,
// Windows v i j r; 'a' blocks follow 'r', 'p' comes last.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kv {

constexpr int kFooterSize = 8;
constexpr char kFooterMagic[3] = {'k', 'v', 'i'};

constexpr char kTagLogo = 'l';
constexpr char kTagVersion = 'v';
constexpr char kTagInstaller = 'i';
constexpr char kTagJre = 'j';
constexpr char kTagRelease = 'r';
constexpr char kTagArgument = 'a';
constexpr char kTagPayload = 'p';

// One block, as handed to a handler. `start` and `magic` are the footer's 8
// bytes; `end` is the offset of the footer, so the data is [start, end).
// A walk never hands out a descriptor with start > end.
struct BlockDescriptor {
  uint32_t start = 0;
  char magic[4] = {0, 0, 0, 0};
  uint32_t end = 0;

  char tag() const { return magic[3]; }
  uint32_t length() const { return end - start; }
};

// A visitor for one walk. visit() may seek and read the file freely; it
// returns true to go on with the block before this one, false to stop.
class TagHandler {
 public:
  virtual bool visit(std::FILE* file, const BlockDescriptor& block) = 0;

 protected:
  ~TagHandler() = default;
};

// Walks the bundle whose last footer ends `endOffset + 8` bytes before the end
// of the file (endOffset is -8 for a bundle that ends at the end of the file;
// -8 - S before a certificate table of S bytes). Visits blocks from the last
// to the first. Returns false only when there is no bundle (no valid last
// footer); true however the walk ended. A footer whose start is beyond its
// own position, or not strictly below the previous block's start, ends the
// chain (or, as the last footer, means there is no bundle).
bool walkBundleFrom(std::FILE* file, TagHandler& handler, int64_t endOffset);

// walkBundleFrom() at the platform's bundleEndOffset().
bool walkBundle(std::FILE* file, TagHandler& handler);

// True when bytes follow the program image (the platform's programImageEnd())
// but no valid last footer ends them: a setup file cut short or damaged.
// False for a launcher with nothing after its image.
bool bundleDamaged(std::FILE* file);

// Reads up to `limit` bytes of a block's data (fewer when the file ends;
// none when it cannot be positioned).
std::string readBlock(std::FILE* file, const BlockDescriptor& block, uint32_t limit);
// readBlock() up to the first NUL: the text of a text block.
std::string blockText(std::FILE* file, const BlockDescriptor& block, uint32_t limit);

// The 8 footer bytes of a block whose data starts at `start`, and whether 8
// bytes read as a footer (they carry the magic).
void writeFooter(uint32_t start, char tag, unsigned char footer[kFooterSize]);
bool isFooter(const unsigned char* bytes);

}  // namespace kv
