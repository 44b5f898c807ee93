// Walks a launcher file with the launcher's own walker and prints its blocks.
#include "tools/mkbundle/list_bundle.h"

#include <errno.h>

#include <cstring>
#include <vector>

#include "base/fs.h"
#include "core/bundle.h"
#include "tools/mkbundle/archive_check.h"
#include "tools/mkbundle/launcher_file.h"
#include "tools/mkbundle/launcher_mark.h"

namespace mkbundle {
namespace {

constexpr uint32_t kMaxText = 4096;

struct Listed {
  kv::BlockDescriptor block;
  std::string text;
  bool cut = false;
};

bool hasText(char tag) {
  return tag == kv::kTagVersion || tag == kv::kTagRelease || tag == kv::kTagArgument;
}

class Collector : public kv::TagHandler {
 public:
  bool visit(std::FILE* file, const kv::BlockDescriptor& block) override {
    Listed listed;
    listed.block = block;
    if (hasText(block.tag())) {
      listed.text = kv::readBlock(file, block, kMaxText);
      const size_t nul = listed.text.find('\0');
      if (nul != std::string::npos) listed.text.resize(nul);
      listed.cut = nul == std::string::npos && block.length() > kMaxText;
    }
    blocks.push_back(listed);
    return true;
  }
  std::vector<Listed> blocks;
};

void escapeInto(std::string& out, const std::string& text) {
  static const char hex[] = "0123456789abcdef";
  for (unsigned char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          out += "\\x";
          out += hex[c >> 4];
          out += hex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
}

std::string displayTag(char tag) {
  const unsigned char c = static_cast<unsigned char>(tag);
  if (c > ' ' && c < 0x7F) return std::string(1, tag);
  static const char hex[] = "0123456789abcdef";
  return std::string("\\x") + hex[c >> 4] + hex[c & 0xF];
}

}  // namespace

std::string displayText(char tag, const std::string& data, bool cut) {
  std::string text = data.substr(0, data.find('\0'));
  if (tag == kv::kTagVersion) {
    std::string joined;
    size_t begin = 0;
    while (begin <= text.size()) {
      size_t end = text.find('\n', begin);
      if (end == std::string::npos) end = text.size();
      const std::string line = text.substr(begin, end - begin);
      if (!line.empty()) joined += (joined.empty() ? "" : "; ") + line;
      begin = end + 1;
    }
    text = joined;
  }
  std::string out = "\"";
  escapeInto(out, text);
  out += "\"";
  if (cut) out += "...";
  return out;
}

bool flushed(std::FILE* out, std::string* message) {
  if (std::fflush(out) == 0) return true;
  *message = std::string("cannot write the report: ") + std::strerror(errno);
  return false;
}

bool listBundle(const std::string& path, bool files, std::FILE* out, std::string* message) {
  kv::FilePtr file;
  if (!(*message = openBundleFile(path, file)).empty()) return false;
  const std::optional<LauncherMark> mark = readLauncherMark(file.get());
  std::fprintf(stderr, "mkbundle: '%s' is built on the %s\n", path.c_str(),
               launcherDescription(mark).c_str());
  Collector collector;
  if (!kv::walkBundleFrom(file.get(), collector, bundleEndOffsetOf(file.get()))) {
    std::fprintf(out, "no bundle\n");
    return false;
  }
  bool listed = true;
  for (auto it = collector.blocks.rbegin(); it != collector.blocks.rend(); ++it) {
    const kv::BlockDescriptor& block = it->block;
    std::string line = displayTag(block.tag()) + " " + std::to_string(block.start) + " " +
                       std::to_string(block.length());
    if (hasText(block.tag())) line += " " + displayText(block.tag(), it->text, it->cut);
    std::fprintf(out, "%s\n", line.c_str());
    const char tag = block.tag();
    if (!files || (tag != kv::kTagInstaller && tag != kv::kTagJre && tag != kv::kTagPayload))
      continue;
    ArchiveInfo info;
    readArchive(file.get(), block.start, block.end, info);
    for (const ArchiveItem& item : info.items) {
      // Names are UTF-8 from the archive: only control characters and "\"
      // are escaped, so that each entry stays on its line.
      std::string name;
      for (unsigned char c : item.path) {
        if (c == '\\' || c < 0x20 || c == 0x7F) {
          escapeInto(name, std::string(1, static_cast<char>(c)));
        } else {
          name += static_cast<char>(c);
        }
      }
      std::fprintf(out, "  %s %llu %s\n", modeText(item).c_str(),
                   static_cast<unsigned long long>(item.size), name.c_str());
    }
    for (const std::string& problem : info.problems) {
      std::fprintf(stderr, "mkbundle: block %c at %u: %s\n", tag, block.start, problem.c_str());
      listed = false;
    }
  }
  return flushed(out, message) && listed;
}

}  // namespace mkbundle
