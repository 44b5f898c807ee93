// Finds the mark's section through the image's section table: the name
// alone tells it, wherever the linker put it.
#include "tools/mkbundle/launcher_mark.h"

#include <cstring>

#include "base/fs.h"
#include "base/launcher_mark.h"
#include "base/little_endian.h"

namespace mkbundle {
namespace {

constexpr uint32_t kMaxSections = 4096;
constexpr uint64_t kMaxMark = 4096;

std::string readAt(std::FILE* file, uint64_t offset, uint64_t size) {
  std::string bytes(static_cast<size_t>(size), '\0');
  if (size == 0 || offset > (uint64_t{1} << 40) ||
      kv::fs::seek(file, static_cast<int64_t>(offset), SEEK_SET) != 0 ||
      std::fread(&bytes[0], 1, bytes.size(), file) != bytes.size())
    return "";
  return bytes;
}

uint16_t le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) |
                               (static_cast<uint8_t>(b[at + 1]) << 8));
}
uint32_t le32(const std::string& b, size_t at) {
  return kv::readLe32(reinterpret_cast<const uint8_t*>(b.data() + at));
}
uint64_t le64(const std::string& b, size_t at) {
  return le32(b, at) | (static_cast<uint64_t>(le32(b, at + 4)) << 32);
}

// The contents of the ELF section named like the mark's, or "".
std::string elfMarkSection(std::FILE* file, const std::string& head) {
  const bool is64 = head[4] == 2;
  if ((head[4] != 1 && !is64) || head[5] != 1) return "";  // little-endian only
  const uint64_t tableAt = is64 ? le64(head, 0x28) : le32(head, 0x20);
  const uint16_t entrySize = le16(head, is64 ? 0x3A : 0x2E);
  const uint16_t count = le16(head, is64 ? 0x3C : 0x30);
  const uint16_t namesIndex = le16(head, is64 ? 0x3E : 0x32);
  if (count == 0 || count > kMaxSections || namesIndex >= count || entrySize < (is64 ? 64 : 40))
    return "";
  const std::string table = readAt(file, tableAt, uint64_t{count} * entrySize);
  if (table.empty()) return "";
  auto offsetOf = [&](size_t s) {
    return is64 ? le64(table, s * entrySize + 0x18) : le32(table, s * entrySize + 0x10);
  };
  auto sizeOf = [&](size_t s) {
    return is64 ? le64(table, s * entrySize + 0x20) : le32(table, s * entrySize + 0x14);
  };
  const uint64_t namesSize = sizeOf(namesIndex) < (1u << 20) ? sizeOf(namesIndex) : 0;
  const std::string names = readAt(file, offsetOf(namesIndex), namesSize);
  for (size_t s = 0; s < count; ++s) {
    const uint32_t name = le32(table, s * entrySize);
    if (name >= names.size() || std::strcmp(names.c_str() + name, kv::kLauncherMarkSection) != 0)
      continue;
    return sizeOf(s) <= kMaxMark ? readAt(file, offsetOf(s), sizeOf(s)) : "";
  }
  return "";
}

// The contents of the PE section named like the mark's, or "".
std::string peMarkSection(std::FILE* file, const std::string& head) {
  const uint32_t pe = le32(head, 0x3C);
  const std::string coff = readAt(file, pe, 24);
  if (coff.size() != 24 || coff.compare(0, 4, std::string("PE\0\0", 4)) != 0) return "";
  const uint16_t count = le16(coff, 6);
  const std::string table = readAt(file, uint64_t{pe} + 24 + le16(coff, 20), uint64_t{count} * 40);
  for (size_t s = 0; s < count && !table.empty(); ++s) {
    const size_t at = s * 40;
    if (std::strncmp(table.c_str() + at, kv::kLauncherMarkSection, 8) != 0) continue;
    const uint32_t virtualSize = le32(table, at + 8), rawSize = le32(table, at + 16);
    const uint32_t size = virtualSize != 0 && virtualSize < rawSize ? virtualSize : rawSize;
    return size <= kMaxMark ? readAt(file, le32(table, at + 20), size) : "";
  }
  return "";
}

}  // namespace

std::optional<LauncherMark> readLauncherMark(std::FILE* file) {
  const std::string head = readAt(file, 0, 64);
  if (head.size() != 64) return std::nullopt;
  LauncherMark mark;
  std::string section;
  if (head.compare(0, 4,
                   "\x7f"
                   "ELF") == 0) {
    section = elfMarkSection(file, head);
  } else if (head.compare(0, 2, "MZ") == 0) {
    mark.windows = true;
    section = peMarkSection(file, head);
  }
  section = section.substr(0, section.find('\0'));
  const std::string prefix = kv::kLauncherMarkPrefix;
  const size_t slash = section.rfind('/');
  if (section.compare(0, prefix.size(), prefix) != 0 || slash == std::string::npos ||
      slash <= prefix.size() || slash + 1 >= section.size())
    return std::nullopt;
  mark.kind = section.substr(prefix.size(), slash - prefix.size());
  mark.version = section.substr(slash + 1);
  return mark;
}

std::string launcherDescription(const std::optional<LauncherMark>& mark) {
  return mark ? mark->text() : "unknown launcher (no launcher mark)";
}

std::string notALauncher(const std::string& path) {
  return "'" + path +
         "' is not a kvlauncher launcher (it carries no launcher mark); give setup_linux, "
         "setup_linux64, setup.exe or setupc.exe";
}

}  // namespace mkbundle
