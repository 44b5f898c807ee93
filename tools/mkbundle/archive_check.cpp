// Lists and test-decodes an archive through the extraction's façade, and
// turns what it finds into problems a release engineer can act on.
#include "tools/mkbundle/archive_check.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "core/install_layout.h"
#include "extract/block_extraction.h"
#include "tools/mkbundle/tree_walk.h"

namespace mkbundle {
namespace {

constexpr uint32_t kUnixExtension = 0x8000;

std::string openProblem(int result) {
  switch (result) {
    case kv::kErrorNoArchive:
      return "it is not a 7z archive";
    case kv::kErrorUnsupported:
      return "its header uses a method the launcher cannot decode (an encrypted header, "
             "made with -mhe, is one)";
    case kv::kErrorCrc:
      return "its header is damaged (CRC mismatch)";
    case kv::kErrorInputEof:
      return "it is cut short";
    case kv::kErrorMem:
      return "its header does not fit in memory";
  }
  return "the launcher cannot open it (decoder error " + std::to_string(result) + ")";
}

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// The last name of a path, in lower case.
std::string foldedBaseName(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return name;
}

// Collects the entries and the methods; problems for what cannot be decoded.
bool readHeader(std::FILE* file, uint32_t start, uint32_t end, ArchiveInfo& info) {
  info = ArchiveInfo();
  kv::ArchiveListing listing;
  const int opened = kv::listArchive(file, start, end, &listing);
  if (opened != 0) {
    info.problems.push_back(openProblem(opened));
    return false;
  }
  for (const kv::ListedEntry& entry : listing.entries) {
    ArchiveItem item;
    item.path = entry.name;
    item.isDirectory = entry.isDirectory;
    item.hasMode = entry.hasAttributes && (entry.attributes & kUnixExtension) != 0;
    if (item.hasMode) item.mode = entry.attributes >> 16;
    item.size = entry.size;
    info.unpackedBytes += item.size;
    info.items.push_back(item);
  }
  info.blocks = static_cast<uint32_t>(listing.blocks.size());
  std::vector<uint32_t> seen;
  for (size_t f = 0; f < listing.blocks.size(); ++f) {
    if (listing.blocks[f].damaged) {
      info.problems.push_back("solid block " + std::to_string(f) + " has a damaged coder record");
      continue;
    }
    for (const uint32_t id : listing.blocks[f].methods) {
      if (std::find(seen.begin(), seen.end(), id) != seen.end()) continue;
      seen.push_back(id);
      info.methods += (info.methods.empty() ? "" : " ") + kv::methodName(id);
      if (id == kv::kMethodAes) {
        info.problems.push_back("it is encrypted (7zAES); the launcher has no password to give");
      } else if (!kv::decodesMethod(id)) {
        info.problems.push_back("it uses " + kv::methodName(id) +
                                ", which the launcher cannot decode (it decodes " +
                                kv::kDecodedMethods + ")");
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
    if (!resolveInside(link.first, link.second, links))
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

void decodeAll(std::FILE* file, uint32_t start, uint32_t end, ArchiveInfo& info) {
  std::vector<bool> keep(info.items.size(), false);
  for (size_t i = 0; i < info.items.size(); ++i) {
    const ArchiveItem& item = info.items[i];
    keep[i] = item.isLink() || isCheckedFile(item.path);
  }
  std::vector<std::string> contents;
  const std::vector<kv::BlockTest> tests = kv::testArchive(file, start, end, keep, &contents);
  if (tests.size() != info.blocks) {
    info.problems.push_back("the archive could not be opened again to test it");
    return;
  }
  for (size_t i = 0; i < info.items.size() && i < contents.size(); ++i)
    info.items[i].content = std::move(contents[i]);
  auto name = [&](uint32_t entry) {
    return entry < info.items.size() ? info.items[entry].path : "";
  };
  for (size_t f = 0; f < tests.size(); ++f) {
    const kv::BlockTest& test = tests[f];
    if (test.ok()) continue;
    std::string where = "solid block " + std::to_string(f);
    if (test.entry < info.items.size()) where += ", in " + quoted(name(test.entry));
    if (test.lastEntry < info.items.size() && test.lastEntry != test.entry)
      where += " or a later file up to " + quoted(name(test.lastEntry));
    if (test.crcMismatch) {
      info.problems.push_back("CRC mismatch in " + quoted(name(test.entry)) + " (solid block " +
                              std::to_string(f) + "): the archive is damaged");
    } else if (test.result == kv::kErrorUnsupported) {
      info.problems.push_back("solid block " + std::to_string(f) +
                              ": a coder chain the launcher cannot decode");
    } else if (test.result == kv::kErrorMem) {
      info.problems.push_back("solid block " + std::to_string(f) +
                              ": out of memory while decoding");
    } else {
      info.problems.push_back("damaged data in " + where + " (" +
                              (test.result == kv::kErrorInputEof
                                   ? std::string("the block is cut short")
                                   : "decoder error " + std::to_string(test.result)) +
                              ")");
    }
  }
}

}  // namespace

bool ArchiveItem::isLink() const { return hasMode && S_ISLNK(mode); }

void readArchive(std::FILE* file, uint32_t start, uint32_t end, ArchiveInfo& info) {
  readHeader(file, start, end, info);
}

void checkArchive(std::FILE* file, uint32_t start, uint32_t end, ArchiveInfo& info) {
  if (!readHeader(file, start, end, info)) return;
  if (info.problems.empty()) {
    decodeAll(file, start, end, info);
    info.contentsKnown = true;
  }
  checkEntries(info);
}

bool isCheckedFile(const std::string& path) {
  const std::string name = foldedBaseName(path);
  for (const kv::HostRules* host : {&kv::kLinuxHost, &kv::kWindowsHost}) {
    for (const std::string& file :
         {kv::layout::installerProgram(*host), kv::layout::installerProgram(*host, true),
          kv::layout::versionFile(*host)})
      if (name == foldedBaseName(file)) return true;
  }
  return false;
}

std::string modeText(const ArchiveItem& item) {
  const uint32_t mode = item.hasMode ? item.mode : (item.isDirectory ? 040777u : 0100777u);
  std::string text = item.isDirectory ? "d" : item.isLink() ? "l" : "-";
  const char* letters = "rwxrwxrwx";
  for (int bit = 8; bit >= 0; --bit) text += (mode >> bit) & 1 ? letters[8 - bit] : '-';
  return text;
}

}  // namespace mkbundle
