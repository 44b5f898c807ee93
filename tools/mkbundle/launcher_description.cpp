// Reads the ELF machine or the PE subsystem of a launcher file.
#include "tools/mkbundle/launcher_description.h"

#include <cstdint>
#include <cstring>

#include "base/fs.h"

namespace mkbundle {
namespace {

constexpr uint16_t kElfMachine386 = 3;
constexpr uint16_t kElfMachineX8664 = 62;
constexpr uint16_t kPeConsoleSubsystem = 3;
constexpr long kPeSubsystemField = 24 + 68;  // "PE\0\0", file header, optional header

bool readAt(std::FILE* file, long offset, unsigned char* out, size_t size) {
  return kv::fs::seek(file, offset, SEEK_SET) == 0 && std::fread(out, 1, size, file) == size;
}

uint32_t le(const unsigned char* p, int width) {
  uint32_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

std::string kindOf(std::FILE* file) {
  unsigned char head[64] = {};
  if (!readAt(file, 0, head, sizeof head)) return "unknown";
  if (std::memcmp(head,
                  "\x7f"
                  "ELF",
                  4) == 0) {
    const uint32_t machine = le(head + 18, 2);
    if (machine == kElfMachineX8664) return "Linux x86-64";
    if (machine == kElfMachine386) return "Linux i386";
    return "Linux";
  }
  if (head[0] != 'M' || head[1] != 'Z') return "unknown";
  unsigned char subsystem[2] = {};
  const long pe = static_cast<long>(le(head + 0x3C, 4));
  if (!readAt(file, pe + kPeSubsystemField, subsystem, sizeof subsystem)) return "Windows";
  return le(subsystem, 2) == kPeConsoleSubsystem ? "Windows console" : "Windows";
}

}  // namespace

const char kLauncherVersion[] = "1.0.0";

std::string describeLauncher(std::FILE* file) {
  return kindOf(file) + " launcher " + kLauncherVersion;
}

}  // namespace mkbundle
