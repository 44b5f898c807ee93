// Looks into a 7z archive with the launcher's own decoder: its entries, the
// methods of its solid blocks, and a test decode of every block with every
// CRC checked (nothing is written). Whatever the launcher would fail on is
// a problem naming the entry: a method or filter it lacks, encryption, a
// damaged block, a CRC mismatch, a name or link that would leave the
// install directory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace mkbundle {

struct ArchiveItem {
  std::string path;
  bool isDirectory = false;
  bool hasMode = false;  // the attributes carry a Unix mode
  uint32_t mode = 0;     // st_mode when hasMode
  uint64_t size = 0;
  bool isLink() const;
  std::string content;  // links, and the head of the files isCheckedFile() names
};

struct ArchiveInfo {
  std::vector<ArchiveItem> items;  // archive order
  uint32_t blocks = 0;             // solid blocks (folders)
  std::string methods;             // e.g. "LZMA2 BCJ", in first-seen order
  uint64_t unpackedBytes = 0;
  size_t emptyFolders = 0;     // directory entries with nothing below
  bool contentsKnown = false;  // `content` of the items was read
  std::vector<std::string> problems;
};

// Reads the header only; problems if it cannot be opened.
void readArchive(std::FILE* file, uint32_t start, uint32_t end, ArchiveInfo& info);

// Reads the header, checks every method and entry, and test-decodes every
// block on all processors.
void checkArchive(std::FILE* file, uint32_t start, uint32_t end, ArchiveInfo& info);

// Whether the bundle checks read the head of the entry at `path`: the
// installer's programs and version file (core/install_layout.h) for either
// host, known by their last name in any case.
bool isCheckedFile(const std::string& path);

// The entry's mode the way the launcher will create it: "-rwxr-xr-x",
// "lrwxrwxrwx", "drwxr-xr-x"; files without a Unix mode show as
// "-rwxrwxrwx" (the launcher then creates them 0777 before the umask).
std::string modeText(const ArchiveItem& item);

}  // namespace mkbundle
