// The .ini reader over arbitrary file bytes. Every line it returns is
// trimmed, not blank and not a comment, has its first "${iniloc}" replaced,
// and the lines come in file order: they match a plain re-reading of the
// bytes line by line.
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/fs.h"
#include "core/ini_file.h"
#include "fuzz/fuzz_support.h"

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

const char kIniDirectory[] = "/media/KV DVD";

// The lines the reader must return for `bytes`.
std::vector<std::string> expectedLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t begin = 0;
  while (begin < bytes.size()) {
    size_t end = bytes.find('\n', begin);
    if (end == std::string::npos) end = bytes.size();
    size_t a = begin, b = end;
    while (a < b && isBlank(bytes[a])) ++a;
    while (b > a && isBlank(bytes[b - 1])) --b;
    if (a < b && bytes[a] != '#') {
      std::string line = bytes.substr(a, b - a);
      size_t at = line.find("${iniloc}");
      if (at != std::string::npos) line.replace(at, 9, kIniDirectory);
      lines.push_back(line);
    }
    begin = end + 1;
  }
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static kvfuzz::Scratch scratch("ini");
  static const std::string path = scratch.target() + "/setup.ini";
  {
    // A fresh file each time: truncating one makes some file systems
    // flush it on close, which would slow every run down to the disk.
    ::unlink(path.c_str());
    kv::FilePtr out = kv::openFile(path, "wb");
    KV_FUZZ_CHECK(out != nullptr);
    if (size > 0) KV_FUZZ_CHECK(std::fwrite(data, 1, size, out.get()) == size);
  }
  std::vector<std::string> lines = {"left over"};
  KV_FUZZ_CHECK(kv::readIniFile(path, kIniDirectory, lines));
  const std::vector<std::string> expected =
      expectedLines(std::string(reinterpret_cast<const char*>(data), size));
  KV_FUZZ_CHECK(lines == expected);
  for (const std::string& line : lines) {
    KV_FUZZ_CHECK(!line.empty() && !isBlank(line.front()) && line.front() != '#');
  }
  // The path form works out the folder itself.
  KV_FUZZ_CHECK(kv::readIniFile(path, kv::kLinuxHost, lines));
  KV_FUZZ_CHECK(lines.size() == expected.size());
  return 0;
}
